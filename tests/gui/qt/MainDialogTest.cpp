#include <gtest/gtest.h>

#include <QAction>
#include <QContextMenuEvent>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <string_view>
#include <vector>

#include "gui/qt/AboutDialog.h"
#include "gui/qt/DialogUnits.h"
#include "gui/qt/MainDialog.h"
#include "gui/qt/StatusLine.h"
#include "tests/gui/qt/CaptionChecks.h"
#include "tests/gui/qt/QtTestSupport.h"

namespace voltrix {
namespace {

using test::isA;
using test::ModalCatcher;

class MainDialogTest : public ::testing::Test {
 protected:
  MainDialogTest() {
    dialog.setDownloadHandler([this] { ++downloads; });
  }

  void showActive() {
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  }

  // Runs the dialog modally with `poke` done from inside its loop; a dialog
  // that does not close by itself is closed with result -1.
  int execWith(std::function<void()> poke) {
    QTimer::singleShot(0, &dialog, poke);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, &dialog, [this] { dialog.done(-1); });
    watchdog.start(test::kUiDeadline);
    return dialog.exec();
  }

  DownloadState state;
  MainDialog dialog{state};
  int downloads = 0;
};

TEST_F(MainDialogTest, ShowsItsControlsLikeTheTemplate) {
  EXPECT_EQ(dialog.windowTitle(), "Pc platform COM download tool");
  EXPECT_FALSE(dialog.windowIcon().isNull());
  EXPECT_EQ(dialog.titleLabel()->text(), "Zetak V1.0");
  EXPECT_TRUE(dialog.titleLabel()->alignment() & Qt::AlignHCenter);
  EXPECT_EQ(dialog.downloadButton()->text(), "DOWNLOAD");
  EXPECT_EQ(dialog.groupFrame()->title(), "");
  EXPECT_EQ(dialog.statusLabel()->text(), "");
  EXPECT_EQ(dialog.noteLabel()->text(),
            "Note: This downloading file is just limited to this Zetak!");
  EXPECT_EQ(dialog.noteLabel()->frameShape(), QFrame::NoFrame);
  for (QLabel* label : {dialog.titleLabel(), dialog.statusLabel()}) {
    EXPECT_EQ(label->frameShape(), QFrame::Panel) << label->objectName().toStdString();
    EXPECT_EQ(label->frameShadow(), QFrame::Sunken) << label->objectName().toStdString();
  }
  const QProgressBar* bar = dialog.progressBar();
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 100);
  EXPECT_EQ(bar->value(), 0);
  EXPECT_FALSE(bar->isTextVisible());
}

TEST_F(MainDialogTest, LayoutFollowsTheTemplateInDialogUnits) {
  const DialogUnits units(dialog.font());
  ASSERT_GT(units.baseWidth(), 0);
  ASSERT_GT(units.baseHeight(), 0);
  EXPECT_EQ(units.x(4), units.baseWidth());
  EXPECT_EQ(units.y(8), units.baseHeight());
  EXPECT_EQ(dialog.size(), units.size(265, 173));
  EXPECT_EQ(dialog.titleLabel()->geometry(), units.rect(7, 7, 251, 35));
  EXPECT_EQ(dialog.downloadButton()->geometry(), units.rect(84, 56, 94, 31));
  EXPECT_EQ(dialog.groupFrame()->geometry(), units.rect(7, 44, 251, 53));
  EXPECT_EQ(dialog.statusLabel()->geometry(), units.rect(105, 129, 153, 20));
  EXPECT_EQ(dialog.progressBar()->geometry(), units.rect(7, 149, 251, 15));
  EXPECT_EQ(dialog.noteLabel()->geometry(), units.rect(14, 101, 240, 11));
}

TEST_F(MainDialogTest, KeepsTheTemplatesSizeWhateverIsAskedOfIt) {
  const QSize templateSize = DialogUnits(dialog.font()).size(265, 173);
  EXPECT_EQ(dialog.minimumSize(), templateSize);
  EXPECT_EQ(dialog.maximumSize(), templateSize);
  EXPECT_FALSE(dialog.isSizeGripEnabled());
  EXPECT_FALSE(dialog.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(dialog.windowFlags() & Qt::WindowMinimizeButtonHint);
  showActive();
  for (const QSize asked : {templateSize / 2, templateSize * 2}) {
    dialog.resize(asked);
    EXPECT_EQ(dialog.size(), templateSize);
  }
}

TEST(DialogUnitsTest, UnitsComeFromTheAverageLetterWidthAndTheEm) {
  const QFontMetrics metrics(templateFont());
  const DialogUnits units(templateFont());
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  EXPECT_EQ(units.baseWidth(), (letters + 26) / 52);
  // 9 pt at 96 dpi, whatever the substitute's line spacing.
  EXPECT_EQ(units.baseHeight(), QFontInfo(templateFont()).pixelSize());
  EXPECT_EQ(units.baseHeight(), 12);
  // Rounded, not truncated.
  EXPECT_EQ(units.x(265), (265 * units.baseWidth() + 2) / 4);
  EXPECT_EQ(units.y(173), (173 * units.baseHeight() + 4) / 8);
}

TEST_F(MainDialogTest, BannerAndButtonUseArialTheRestTheTemplateFont) {
  const QFont title = dialog.titleLabel()->font();
  EXPECT_EQ(title.family(), "Arial");
  // Cells of 33 and 23 pixels hold Arial ems of 30 and 21, kept wherever
  // the captions fit in them.
  EXPECT_TRUE(test::wholeAtLargestSize(*dialog.titleLabel(), 30));
  EXPECT_EQ(title.weight(), QFont::Weight(710));
  const QFont button = dialog.downloadButton()->font();
  EXPECT_EQ(button.family(), "Arial");
  EXPECT_TRUE(test::wholeAtLargestSize(*dialog.downloadButton(), 21));
  EXPECT_EQ(button.weight(), QFont::Bold);
  EXPECT_GT(QFontInfo(title).pixelSize(), QFontInfo(button).pixelSize());

  EXPECT_EQ(dialog.font().families().value(0), "宋体");
  EXPECT_TRUE(dialog.font().families().contains("WenQuanYi Zen Hei"));
  EXPECT_EQ(dialog.font().pointSize(), 9);
  EXPECT_EQ(dialog.statusLabel()->font(), dialog.font());
  EXPECT_EQ(dialog.noteLabel()->font(), dialog.font());
}

TEST_F(MainDialogTest, TemplateFontHasTheChineseGlyphs) {
  const QFontMetrics metrics(dialog.font());
  for (char32_t c : std::u32string_view(U"文件名关于错误")) {
    EXPECT_TRUE(metrics.inFontUcs4(c)) << std::hex << unsigned(c);
  }
}

TEST_F(MainDialogTest, DownloadFitsOnItsButton) {
  const QPushButton* button = dialog.downloadButton();
  EXPECT_LT(QFontMetrics(button->font()).horizontalAdvance(button->text()),
            button->width() - 2 * button->style()->pixelMetric(QStyle::PM_ButtonMargin));
}

TEST_F(MainDialogTest, AnErrorLineBreaksOntoASecondLineThatStaysInsideTheField) {
  auto* status = qobject_cast<StatusLine*>(dialog.statusLabel());
  ASSERT_NE(status, nullptr);
  status->setText(QStringLiteral("ERROR:Request for downloading fails!!  文件名[sysbin.bin]"));
  const QList<QRectF> lines = status->lineRects();
  ASSERT_EQ(lines.size(), 2);
  EXPECT_EQ(lines[1].top() - lines[0].top(), status->lineStep());
  const QRectF field(QPointF(0, 0), QSizeF(status->contentsRect().size()));
  for (const QRectF& line : lines) EXPECT_TRUE(field.contains(line)) << line.top();
}

TEST_F(MainDialogTest, SetsTheDefaultsOfTheDownloadState) {
  DownloadState used;
  used.comPort = 7;
  used.baudRate = 9600;
  used.busy = BusyState::Downloading;
  used.segmentCount = 5;
  used.cursor = 3;
  used.currentAddress = 0x400;
  MainDialog fresh(used);
  EXPECT_EQ(used.comPort, 1);
  EXPECT_EQ(used.baudRate, 57600);
  EXPECT_EQ(used.busy, BusyState::Idle);
  EXPECT_EQ(used.segmentCount, 0);
  EXPECT_EQ(used.cursor, 0);
  EXPECT_EQ(used.currentAddress, 0u);
}

TEST_F(MainDialogTest, FocusChainFollowsTheTemplateAndOnlyDownloadTakesTab) {
  const std::vector<QWidget*> expected = {dialog.titleLabel(),  dialog.downloadButton(),
                                          dialog.groupFrame(),  dialog.statusLabel(),
                                          dialog.progressBar(), dialog.noteLabel()};
  QWidget* widget = expected.front();
  for (std::size_t i = 1; i < expected.size(); ++i) {
    widget = widget->nextInFocusChain();
    EXPECT_EQ(widget, expected[i]) << "after " << expected[i - 1]->objectName().toStdString();
  }
  for (QWidget* other : expected) {
    if (other == dialog.downloadButton()) continue;
    EXPECT_FALSE(other->focusPolicy() & Qt::TabFocus) << other->objectName().toStdString();
  }

  showActive();
  EXPECT_EQ(QApplication::focusWidget(), dialog.downloadButton());
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), dialog.downloadButton());
}

TEST_F(MainDialogTest, ClickOnDownloadReachesTheButtonThroughTheGroupFrame) {
  const QPoint centre = dialog.downloadButton()->geometry().center();
  ASSERT_TRUE(dialog.groupFrame()->geometry().contains(centre));
  EXPECT_EQ(dialog.childAt(centre), dialog.downloadButton());
  QTest::mouseClick(dialog.downloadButton(), Qt::LeftButton);
  EXPECT_EQ(downloads, 1);
  QTest::keyClick(dialog.downloadButton(), Qt::Key_Space);
  EXPECT_EQ(downloads, 2);
}

TEST_F(MainDialogTest, EnterAndEscCloseTheDialogWithoutDownloading) {
  EXPECT_FALSE(dialog.downloadButton()->isDefault());
  EXPECT_FALSE(dialog.downloadButton()->autoDefault());
  const struct {
    Qt::Key key;
    Qt::KeyboardModifier modifier;
    int result;
  } cases[] = {{Qt::Key_Return, Qt::NoModifier, QDialog::Accepted},
               {Qt::Key_Enter, Qt::KeypadModifier, QDialog::Accepted},
               {Qt::Key_Escape, Qt::NoModifier, QDialog::Rejected}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    // With the focus on DOWNLOAD, as right after start-up.
    const int result =
        execWith([&] { QTest::keyClick(dialog.downloadButton(), c.key, c.modifier); });
    EXPECT_EQ(result, c.result);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(downloads, 0);
  }
}

TEST_F(MainDialogTest, AboutEntryIsInTheContextMenuAndOpensTheAboutBox) {
  QStringList menuTexts;
  int separators = 0;
  QString aboutCaption;
  ModalCatcher menuCatcher(ModalCatcher::Kind::Popup, isA<QMenu>(), [&](QWidget* popup) {
    auto* menu = qobject_cast<QMenu*>(popup);
    for (QAction* action : menu->actions()) {
      if (action->isSeparator())
        ++separators;
      else
        menuTexts << action->text();
    }
    QTest::keyClick(menu, Qt::Key_A);  // the entry's mnemonic
  });
  ModalCatcher aboutCatcher(ModalCatcher::Kind::Modal, isA<AboutDialog>(), [&](QWidget* box) {
    aboutCaption = box->windowTitle();
    qobject_cast<AboutDialog*>(box)->enterButton()->click();
  });

  showActive();
  const QPoint inside(5, 5);
  QContextMenuEvent rightClick(QContextMenuEvent::Mouse, inside, dialog.mapToGlobal(inside));
  QApplication::sendEvent(&dialog, &rightClick);

  EXPECT_TRUE(menuCatcher.caught());
  EXPECT_EQ(menuTexts, QStringList{"关于 Voltrix(&A)..."});
  EXPECT_EQ(separators, 0);
  EXPECT_TRUE(test::processEventsUntil([&] { return aboutCatcher.caught(); }));
  EXPECT_EQ(aboutCaption, "About Voltrix");
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(downloads, 0);
}

TEST_F(MainDialogTest, ShiftF10OpensTheContextMenuWithTheAboutEntry) {
  QStringList menuTexts;
  ModalCatcher menuCatcher(ModalCatcher::Kind::Popup, isA<QMenu>(), [&](QWidget* popup) {
    for (QAction* action : qobject_cast<QMenu*>(popup)->actions()) menuTexts << action->text();
    popup->close();
  });
  showActive();
  QTest::keyClick(dialog.downloadButton(), Qt::Key_F10, Qt::ShiftModifier);
  EXPECT_TRUE(menuCatcher.caught());
  EXPECT_EQ(menuTexts, QStringList{"关于 Voltrix(&A)..."});
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(downloads, 0);
}

TEST_F(MainDialogTest, ATerminationRequestClosesTheDialogAndTheBoxOverIt) {
  bool requested = false;
  dialog.watchForTermination([&] { return requested; });
  ModalCatcher aboutCatcher(ModalCatcher::Kind::Modal, isA<AboutDialog>(), [&](QWidget* box) {
    requested = true;
    // Should nothing close the box, the test must not hang in its loop.
    QTimer::singleShot(test::kUiDeadline, box, [box] { box->close(); });
  });
  const int result = execWith([this] { dialog.showAbout(); });
  EXPECT_TRUE(aboutCatcher.caught());
  // Closed as by its close box, not by the watchdog.
  EXPECT_EQ(result, QDialog::Rejected);
  EXPECT_FALSE(dialog.isVisible());
}

TEST_F(MainDialogTest, F1OpensTheAboutBox) {
  EXPECT_EQ(dialog.aboutAction()->shortcut(), QKeySequence(Qt::Key_F1));
  showActive();
  ModalCatcher aboutCatcher(ModalCatcher::Kind::Modal, isA<AboutDialog>(),
                            [](QWidget* box) { QTest::keyClick(box, Qt::Key_Return); });
  QTest::keyClick(&dialog, Qt::Key_F1);
  EXPECT_TRUE(test::processEventsUntil([&] { return aboutCatcher.caught(); }));
  // Enter in the About box closed only the About box.
  EXPECT_TRUE(dialog.isVisible());
}

}  // namespace
}  // namespace voltrix

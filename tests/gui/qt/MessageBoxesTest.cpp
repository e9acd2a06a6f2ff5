#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>
#include <QWidget>

#include "engine/SystemTexts.h"
#include "gui/qt/QtMessageBoxes.h"
#include "tests/gui/qt/QtTestSupport.h"

namespace voltrix {
namespace {

using test::isA;
using test::ModalCatcher;

struct SeenBox {
  QString text;
  QString caption;
  QMessageBox::Icon icon = QMessageBox::Question;
  Qt::TextFormat format = Qt::AutoText;
  QList<QMessageBox::StandardButton> buttons;
  QWidget* parent = nullptr;
  bool modal = false;
  Qt::WindowFlags flags;
};

// Shows one box through the presenter and closes it with `close` from inside
// its loop; returns what the box looked like.
SeenBox showAndClose(QtMessageBoxes& boxes, const char* text, const char* caption,
                     const std::function<void(QMessageBox*)>& close) {
  SeenBox seen;
  bool closedByHandler = false;
  ModalCatcher catcher(ModalCatcher::Kind::Modal, isA<QMessageBox>(), [&](QWidget* widget) {
    auto* box = qobject_cast<QMessageBox*>(widget);
    seen.text = box->text();
    seen.caption = box->windowTitle();
    seen.icon = box->icon();
    seen.format = box->textFormat();
    for (QAbstractButton* button : box->buttons()) seen.buttons << box->standardButton(button);
    seen.parent = box->parentWidget();
    seen.modal = box->isModal();
    seen.flags = box->windowFlags();
    close(box);
    closedByHandler = !box->isVisible();
    if (!closedByHandler) box->done(QMessageBox::Cancel);  // never leave the test hanging
  });
  boxes.showMessageBox(text, caption);
  EXPECT_TRUE(catcher.caught());
  EXPECT_TRUE(closedByHandler);
  return seen;
}

void clickOk(QMessageBox* box) {
  box->button(QMessageBox::Ok)->click();
}

TEST(QtMessageBoxesTest, ShowsEveryCommandTextExactlyWithOneOkAndNoIcon) {
  QWidget owner;
  QtMessageBoxes boxes(&owner);
  struct Case {
    const char* text;
    const char* caption;
  };
  const Case cases[] = {
      {texts::kBeingInDownload, texts::kInfoCaption},
      {texts::kSystemFileNotFound, texts::kInfoCaption},
      {texts::kDownloadingFileNotFound, texts::kInfoCaption},
      {texts::kRegistryDamaged, nullptr},
      {texts::kDriverNotInstalled, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const SeenBox seen = showAndClose(boxes, c.text, c.caption, clickOk);
    EXPECT_EQ(seen.text.toStdString(), c.text);
    EXPECT_EQ(seen.caption,
              c.caption ? QString::fromUtf8(c.caption) : QCoreApplication::applicationName());
    EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen.format, Qt::PlainText);
    EXPECT_EQ(seen.buttons, QList<QMessageBox::StandardButton>{QMessageBox::Ok});
    EXPECT_EQ(seen.parent, &owner);
    EXPECT_TRUE(seen.modal);
    // A caption, a system menu and close; nothing to minimise or maximise.
    EXPECT_EQ(seen.flags, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowCloseButtonHint);
  }
}

TEST(QtMessageBoxesTest, WithoutACaptionTheBoxIsTitledWithTheProgramsName) {
  // Qt names the application after its program file, without extension.
  EXPECT_EQ(QCoreApplication::applicationName(), "gui_message_boxes_test");
  const QString previous = QCoreApplication::applicationName();
  QCoreApplication::setApplicationName("voltrix");
  QWidget owner;
  QtMessageBoxes boxes(&owner);
  const SeenBox seen = showAndClose(boxes, texts::kRegistryDamaged, nullptr, clickOk);
  EXPECT_EQ(seen.caption, "voltrix");
  EXPECT_EQ(seen.text, "错误：注册表损坏！");
  QCoreApplication::setApplicationName(previous);
}

TEST(QtMessageBoxesTest, EnterAndEscCloseTheBox) {
  QWidget owner;
  QtMessageBoxes boxes(&owner);
  for (const auto key : {Qt::Key_Return, Qt::Key_Escape}) {
    SCOPED_TRACE(key);
    showAndClose(boxes, texts::kBeingInDownload, texts::kInfoCaption,
                 [key](QMessageBox* box) { QTest::keyClick(box, key); });
  }
}

}  // namespace
}  // namespace voltrix

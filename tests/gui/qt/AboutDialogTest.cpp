#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "gui/qt/AboutDialog.h"
#include "gui/qt/DialogUnits.h"
#include "tests/gui/qt/QtTestSupport.h"
#include "voltrix/Version.h"

namespace voltrix {
namespace {

TEST(AboutDialogTest, ShowsIconNameAndVersionAndAnEnterButton) {
  AboutDialog about;
  EXPECT_EQ(about.windowTitle(), "About Voltrix");
  EXPECT_EQ(about.versionLabel()->text(), "Voltrix V1.0");
  EXPECT_EQ(about.versionLabel()->textFormat(), Qt::PlainText);
  // The build's version, from the one place it is set.
  EXPECT_EQ(about.versionLabel()->toolTip(), QString("Voltrix ") + kVoltrixVersion);
  EXPECT_EQ(about.enterButton()->text(), "Enter");
  EXPECT_TRUE(about.enterButton()->isDefault());
  EXPECT_FALSE(about.iconLabel()->pixmap().isNull());
  EXPECT_FALSE(about.windowIcon().isNull());
}

TEST(AboutDialogTest, HasACaptionASystemMenuAndCloseButNothingToMinimiseOrMaximise) {
  AboutDialog about;
  EXPECT_EQ(about.windowFlags(), Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                     Qt::WindowCloseButtonHint);
}

TEST(AboutDialogTest, IsLaidOutInDialogUnitsOfTheTemplateFont) {
  AboutDialog about;
  const DialogUnits units(about.font());
  EXPECT_EQ(about.size(), units.size(235, 55));
  EXPECT_EQ(about.versionLabel()->geometry(), units.rect(41, 23, 100, 8));
  EXPECT_EQ(about.enterButton()->geometry(), units.rect(150, 21, 50, 14));
  EXPECT_EQ(about.iconLabel()->pos(), QPoint(units.x(11), units.y(17)));
}

// The box closes with its button, with Enter and with Esc.
TEST(AboutDialogTest, EnterButtonEnterKeyAndEscCloseIt) {
  struct Case {
    const char* name;
    std::function<void(AboutDialog&)> poke;
    int result;
  };
  const Case cases[] = {
      {"button", [](AboutDialog& a) { QTest::mouseClick(a.enterButton(), Qt::LeftButton); },
       QDialog::Accepted},
      {"enter", [](AboutDialog& a) { QTest::keyClick(&a, Qt::Key_Return); }, QDialog::Accepted},
      {"esc", [](AboutDialog& a) { QTest::keyClick(&a, Qt::Key_Escape); }, QDialog::Rejected},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AboutDialog about;
    QTimer::singleShot(0, &about, [&] { c.poke(about); });
    QTimer::singleShot(test::kUiDeadline.count(), &about, [&] { about.done(-1); });
    EXPECT_EQ(about.exec(), c.result);
  }
}

}  // namespace
}  // namespace voltrix

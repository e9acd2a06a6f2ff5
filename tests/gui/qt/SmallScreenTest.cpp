// Too small a screen for the templates: the dialogs shrink with their font
// and stay whole, the status line and the bar included.

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include "gui/qt/AboutDialog.h"
#include "gui/qt/DialogUnits.h"
#include "gui/qt/MainDialog.h"

namespace voltrix {
namespace {

QRect onScreen(const QWidget& widget) {
  return QRect(widget.mapToGlobal(QPoint(0, 0)), widget.size());
}

class SmallScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The screen the test program set up, in the program's own pixels.
    ASSERT_EQ(screen->availableGeometry(), QRect(0, 0, 320, 240));
    ASSERT_EQ(screen->devicePixelRatio(), 2.0);
  }

  const QScreen* screen = QGuiApplication::primaryScreen();
};

TEST_F(SmallScreenTest, TheMainDialogShowsItsStatusLineAndBarOnScreen) {
  DownloadState state;
  MainDialog dialog(state);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  EXPECT_TRUE(screen->availableGeometry().contains(dialog.frameGeometry()))
      << dialog.frameGeometry().width() << "x" << dialog.frameGeometry().height();
  for (const QWidget* control :
       {static_cast<QWidget*>(dialog.statusLabel()), static_cast<QWidget*>(dialog.progressBar())}) {
    EXPECT_TRUE(screen->availableGeometry().contains(onScreen(*control)))
        << control->objectName().toStdString();
  }
  // The template's proportions in a smaller, still legible font.
  const DialogUnits units(dialog.font());
  EXPECT_EQ(dialog.size(), units.size(265, 173));
  EXPECT_EQ(dialog.progressBar()->geometry(), units.rect(7, 149, 251, 15));
  EXPECT_GE(QFontInfo(dialog.font()).pixelSize(), kSmallestTemplatePixelSize);
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
}

TEST_F(SmallScreenTest, TheAboutBoxShowsItsButtonOnScreen) {
  AboutDialog about;
  about.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
  EXPECT_TRUE(screen->availableGeometry().contains(about.frameGeometry()));
  EXPECT_TRUE(screen->availableGeometry().contains(onScreen(*about.enterButton())));
}

}  // namespace
}  // namespace voltrix

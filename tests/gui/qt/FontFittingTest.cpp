#include <gtest/gtest.h>

#include <QFontInfo>

#include "gui/qt/FontFitting.h"
#include "gui/qt/MainDialog.h"
#include "tests/gui/qt/CaptionChecks.h"

namespace voltrix {
namespace {

TEST(FontFittingTest, AFramedCaptionShrinksToFitButNotPastLegibility) {
  QLabel label(QStringLiteral("Zetak V1.0"));
  label.setFrameStyle(QFrame::Panel | QFrame::Sunken);
  QFont wide(QStringLiteral("DejaVu Sans"));
  wide.setBold(true);
  wide.setPixelSize(60);
  label.setFont(wide);
  label.setGeometry(0, 0, 200, 40);
  fitCaption(label);
  EXPECT_LT(label.font().pixelSize(), 60);
  EXPECT_TRUE(test::wholeAtLargestSize(label, 60));

  label.resize(10, 10);
  fitCaption(label);
  EXPECT_EQ(label.font().pixelSize(), kSmallestCaptionPixelSize);
}

// DejaVu Sans stands in for Arial here (see the main): its bold DOWNLOAD at
// the size asked for is wider than the button.
TEST(WideArialTest, DownloadAndTheBannerStayWholeAtTheLargestSizeThatFits) {
  DownloadState state;
  const MainDialog dialog(state);
  const QPushButton& button = *dialog.downloadButton();
  ASSERT_EQ(QFontInfo(button.font()).family(), "DejaVu Sans");
  QFont asked = button.font();
  asked.setPixelSize(21);
  ASSERT_FALSE(test::fitsIn(asked, button.text(), test::textRoom(button)))
      << "the stand-in is too narrow to show anything";
  EXPECT_TRUE(test::wholeAtLargestSize(button, 21));
  EXPECT_TRUE(test::wholeAtLargestSize(*dialog.titleLabel(), 30));
}

}  // namespace
}  // namespace voltrix

// The caption tests run headless on a system whose stand-in for Arial is
// DejaVu Sans, as on Debian without an Arial-metric font.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  // Before any Arial is loaded: Qt keeps the face it found for each request.
  QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("DejaVu Sans"));
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

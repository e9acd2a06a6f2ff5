// The dialogs on a small screen scaled up: 640 × 480 pixels at twice the
// size leave the program 320 × 240, as on a small panel PC set to large
// text. The headless platform takes its screen from a file read when the
// application object is made.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <filesystem>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  const std::filesystem::path screens = std::filesystem::temp_directory_path() /
                                        ("voltrix-small-screen-" + std::to_string(::getpid()));
  std::ofstream(screens) << R"({"screens": [{"name": "small", "x": 0, "y": 0,)"
                         << R"( "width": 640, "height": 480, "logicalDpi": 96,)"
                         << R"( "logicalBaseDpi": 96, "dpr": 1}]})";
  qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QByteArray::fromStdString(screens));
  qputenv("QT_SCALE_FACTOR", "2");
  QApplication app(argc, argv);
  std::filesystem::remove(screens);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

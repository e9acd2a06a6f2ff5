// The program as a whole needs its own application object, headless, for
// the whole test process.
#include <gtest/gtest.h>

#include "gui/qt/DownloaderApp.h"
#include "tests/gui/qt/AppDialogScript.h"

namespace voltrix::test {
namespace {
DownloaderApp* theApp = nullptr;
}  // namespace

DownloaderApp& app() {
  return *theApp;
}

}  // namespace voltrix::test

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  voltrix::DownloaderApp app(argc, argv);
  voltrix::test::theApp = &app;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

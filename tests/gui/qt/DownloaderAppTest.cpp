// The whole program as the operator meets it: the application object runs
// the dialog, DOWNLOAD goes through the real command and worker thread, and
// only the device map and the serial link are stand-ins.

#include <gtest/gtest.h>

#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "control/ThreadWorkerLauncher.h"
#include "engine/ImageFileOps.h"
#include "engine/SystemTexts.h"
#include "sim/ImageBuilder.h"
#include "tests/gui/qt/AppDialogScript.h"
#include "tests/support/TempDir.h"

namespace voltrix {
namespace {

using test::findMainDialog;
using test::isA;
using test::ModalCatcher;
using test::processEventsUntil;

class FixedDeviceMap final : public DeviceMap {
 public:
  explicit FixedDeviceMap(DeviceMapValue value) : value_(std::move(value)) {}
  DeviceMapValue queryValue(const std::string&, const std::string&) const override {
    return value_;
  }

 private:
  DeviceMapValue value_;
};

// A device that takes every segment at once, or one that keeps the write
// phase waiting (as a device that never answers would) until the run is
// cancelled.
class ScriptedLink final : public LinkPhases {
 public:
  enum class Mode { Succeed, HoldUntilCancelled };
  explicit ScriptedLink(Mode mode) : mode_(mode) {}

  int writeSegment(DownloadState& state, MessageSink& dialog,
                   const std::string& writeFileName) override {
    dialog.post(textMessage(UWM_WAIT, texts::kRequestDownloading));
    if (mode_ == Mode::HoldUntilCancelled) {
      // Polls like the real link; bounded so a broken cancel cannot hang the suite.
      const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (!state.cancelRequested && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      sawCancel = state.cancelRequested.load();
      dialog.post(textMessage(UWM_ERROR, texts::kCancelled));
      writeEnded = true;
      return 1;
    }
    portUsed = state.comPort.load();
    test::writeFileBytes(writeFileName, std::string(state.currentLength, '\x5a'));
    dialog.post(textMessage(UWM_CONNECTED, texts::kConnectedSpace));
    dialog.post(addressMessage(UWM_WRITE_PROGRESS, state.currentAddress, state.currentLength));
    dialog.post(addressMessage(UWM_WRITE_DONE, state.currentAddress + state.currentLength,
                               state.currentLength));
    return 0;
  }

  int readBackSegment(DownloadState& state, MessageSink& dialog, const std::string& writeFileName,
                      const std::string& readBackFileName) override {
    // The device stores the bytes with the transform undone.
    std::string deviceBytes = test::readFileBytes(writeFileName);
    for (char& byte : deviceBytes) byte = static_cast<char>(transformByte(byte));
    test::writeFileBytes(readBackFileName, deviceBytes);
    dialog.post(textMessage(UWM_WAIT, texts::kRequestVerifying));
    dialog.post(addressMessage(UWM_VERIFY_DONE, state.currentAddress + state.currentLength,
                               state.currentLength));
    return 0;
  }

  int sendEndOfRun(DownloadState&, MessageSink&, int success) override {
    endOfRun = success;
    return 0;
  }

  std::atomic<int> portUsed{0};
  std::atomic<int> endOfRun{-1};
  std::atomic<bool> sawCancel{false};
  std::atomic<bool> writeEnded{false};

 private:
  Mode mode_;
};

class DownloaderAppTest : public ::testing::Test {
 protected:
  DownloaderAppTest() { test::app().state().cancelRequested = false; }

  // Runs the program's dialog with `script` played from inside its loop;
  // the script ends by closing the dialog. Returns runMainDialog's result.
  int runWith(DeviceMapValue mapValue, const std::function<void(MainDialog&)>& script) {
    DownloadSeams seams;
    seams.deviceMap = std::make_unique<FixedDeviceMap>(std::move(mapValue));
    seams.link = link;
    seams.launcher = std::make_unique<ThreadWorkerLauncher>();
    seams.imagePath = dir.file(texts::kImageFileName);
    seams.runFolderParent = dir.path();
    return test::runDialogScript(std::move(seams), script);
  }

  // Clicks DOWNLOAD and answers the box that comes up; returns its text and caption.
  static std::pair<QString, QString> clickExpectingBox(MainDialog& dialog) {
    std::pair<QString, QString> seen;
    ModalCatcher catcher(ModalCatcher::Kind::Modal, isA<QMessageBox>(), [&](QWidget* widget) {
      auto* box = qobject_cast<QMessageBox*>(widget);
      seen = {box->text(), box->windowTitle()};
      box->button(QMessageBox::Ok)->click();
    });
    QTest::mouseClick(dialog.downloadButton(), Qt::LeftButton);
    EXPECT_TRUE(catcher.caught());
    return seen;
  }

  void writeOneSegmentImage() {
    ImageRecord record;
    record.loadAddress = 0x1000;
    record.data.assign(200, 0x11);
    ASSERT_TRUE(writeImageFile(dir.file(texts::kImageFileName), buildImage({record})));
  }

  test::TempDir dir;
  std::shared_ptr<ScriptedLink> link = std::make_shared<ScriptedLink>(ScriptedLink::Mode::Succeed);
};

const DeviceMapValue kCom3{DeviceMapStatus::Ok, "COM3"};

TEST_F(DownloaderAppTest, AMissingImagesBoxNamesTheFolderItWasLookedForIn) {
  std::pair<QString, QString> seen;
  runWith(kCom3, [&](MainDialog& dialog) {
    seen = clickExpectingBox(dialog);
    QTest::keyClick(&dialog, Qt::Key_Escape);
  });
  EXPECT_EQ(seen.first, QString::fromUtf8(texts::kSystemFileNotFound) +
                            "\nLooked in: " + QString::fromStdString(dir.path()));
  EXPECT_EQ(seen.second, "INFO:");
}

TEST_F(DownloaderAppTest, MissingDeviceMapIsReportedInABoxNamedAfterTheProgram) {
  std::pair<QString, QString> seen;
  const int result = runWith({DeviceMapStatus::KeyUnavailable, ""}, [&](MainDialog& dialog) {
    seen = clickExpectingBox(dialog);
    QTest::keyClick(&dialog, Qt::Key_Escape);
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(seen.first, "错误：注册表损坏！");
  EXPECT_EQ(seen.second, "gui_app_test");
  EXPECT_EQ(test::app().state().busy, BusyState::Idle);
}

TEST_F(DownloaderAppTest, ARunShowsItsSuccessInTheStatusLineAndBar) {
  writeOneSegmentImage();
  QString finalStatus;
  int finalProgress = -1;
  runWith(kCom3, [&](MainDialog& dialog) {
    QTest::mouseClick(dialog.downloadButton(), Qt::LeftButton);
    EXPECT_TRUE(processEventsUntil([&] {
      return link->endOfRun == 1 &&
             dialog.statusLabel()->text().startsWith("Update successfully! TIME:");
    }));
    finalStatus = dialog.statusLabel()->text();
    finalProgress = dialog.progressBar()->value();
    QTest::keyClick(&dialog, Qt::Key_Return);
  });
  EXPECT_EQ(finalStatus, "Update successfully! TIME:00:00");
  EXPECT_EQ(finalProgress, 100);
  EXPECT_EQ(link->portUsed, 3);
  EXPECT_EQ(test::app().state().busy, BusyState::Idle);
  EXPECT_FALSE(test::fileExists(dir.file("F_1_W_sysbin.bin")));
  EXPECT_FALSE(test::fileExists(dir.file("F_1_R_sysbin.bin")));
}

TEST_F(DownloaderAppTest, ClosingDuringARunCancelsItAndWaitsForTheWorker) {
  writeOneSegmentImage();
  link = std::make_shared<ScriptedLink>(ScriptedLink::Mode::HoldUntilCancelled);
  runWith(kCom3, [&](MainDialog& dialog) {
    QTest::mouseClick(dialog.downloadButton(), Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil(
        [&] { return dialog.statusLabel()->text() == "Request for downloading, please wait..."; }));
    QTest::keyClick(&dialog, Qt::Key_Escape);
  });
  // By the time the program would end, the worker has seen the cancel and ended.
  EXPECT_TRUE(link->sawCancel);
  EXPECT_TRUE(link->writeEnded);
  EXPECT_EQ(test::app().state().busy, BusyState::Idle);
  EXPECT_EQ(link->endOfRun, -1);
  EXPECT_EQ(findMainDialog(), nullptr);
}

// Runs against the simulated device, through the real serial link, are in
// RealDownloadTest.cpp.

}  // namespace
}  // namespace voltrix

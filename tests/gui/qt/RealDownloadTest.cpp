// DOWNLOAD clicked in the program's own dialog against the simulated Zetak,
// with nothing stood in: the device map and the COM resolution find the
// device through their override directories, as a plugged-in device is found,
// and the run goes over the real serial link on the simulator's pty.

#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <filesystem>
#include <optional>
#include <vector>

#include "control/ThreadWorkerLauncher.h"
#include "engine/ImageFileOps.h"
#include "engine/SystemTexts.h"
#include "sim/ImageBuilder.h"
#include "tests/gui/qt/AppDialogScript.h"
#include "tests/gui/qt/PluggedDevice.h"

namespace voltrix {
namespace {

using namespace std::chrono_literals;

constexpr auto kRunDeadline = 30s;

std::vector<std::string> segmentFilesLeft(const std::string& directory) {
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("F_", 0) == 0) left.push_back(name);
  }
  return left;
}

class RealDownloadTest : public test::PluggedDeviceTest {
 protected:
  // Segments of lengths that end mid-block and on a block boundary, and a
  // skipped record the device never gets.
  void writeImage() {
    const std::uint32_t lengths[] = {1000, 128, 37};
    std::int32_t address = 0x010000;
    std::uint8_t value = 1;
    for (std::uint32_t length : lengths) {
      ImageRecord record;
      record.loadAddress = address;
      for (std::uint32_t i = 0; i < length; ++i) record.data.push_back(value += 7);
      segments.push_back(record);
      address += 0x10000;
    }
    std::vector<ImageRecord> records = segments;
    records.insert(records.begin() + 1, ImageRecord{SKIP_RECORD, 0x7000, {9, 9, 9}, {}, {}});
    ASSERT_TRUE(writeImageFile(dir.file(texts::kImageFileName), buildImage(records)));
  }

  // Clicks DOWNLOAD in the program's dialog, waits until the worker has
  // ended and the status line shows `lastLine`, and closes the dialog.
  void clickDownloadAndWait(const std::function<bool(const QString&)>& lastLine) {
    auto launcher = std::make_unique<ThreadWorkerLauncher>();
    ThreadWorkerLauncher* worker = launcher.get();
    test::runDialogScript(
        programSeams(std::move(launcher)),
        [&](MainDialog& dialog) {
          QTest::mouseClick(dialog.downloadButton(), Qt::LeftButton);
          EXPECT_TRUE(test::processEventsUntil(
              [&] { return !worker->running() && lastLine(dialog.statusLabel()->text()); },
              kRunDeadline))
              << dialog.statusLabel()->text().toStdString();
          status = dialog.statusLabel()->text();
          progress = dialog.progressBar()->value();
          QTest::keyClick(&dialog, Qt::Key_Escape);
        },
        2 * kRunDeadline);
  }

  std::vector<ImageRecord> segments;
  QString status;
  int progress = -1;
};

TEST_F(RealDownloadTest, ARunWritesEverySegmentIntoTheDeviceAndEndsWithZ) {
  plugIn();
  writeImage();
  clickDownloadAndWait([&](const QString& text) {
    return test::app().state().cursor == static_cast<int>(segments.size()) &&
           text.startsWith("Update successfully! TIME:");
  });

  EXPECT_TRUE(
      QRegularExpression("^Update successfully! TIME:\\d\\d:\\d\\d$").match(status).hasMatch())
      << status.toStdString();
  EXPECT_EQ(progress, 100);
  std::size_t stored = 0;
  for (const ImageRecord& segment : segments) {
    const auto address = static_cast<std::uint32_t>(segment.loadAddress);
    const auto length = static_cast<std::uint32_t>(segment.data.size());
    EXPECT_EQ(device->memoryRange(address, length), segment.data) << std::hex << address;
    stored += length;
  }
  EXPECT_EQ(device->memory().size(), stored);  // the skipped record never went
  EXPECT_EQ(device->endOfRunByte(), std::optional<std::uint8_t>('Z'));
  EXPECT_EQ(test::app().state().comPort, 7);
  EXPECT_EQ(test::app().state().busy, BusyState::Idle);
  EXPECT_EQ(segmentFilesLeft(dir.path()), std::vector<std::string>{});
}

TEST_F(RealDownloadTest, ARefusedHeaderIsShownAsAnErrorWithTheFileName) {
  sim::SimConfig config;
  config.fault = {sim::FaultKind::Refuse, sim::SimStep::WriteHeader, 1, 0ms};
  plugIn(config);
  writeImage();
  const QString expected = "ERROR:Request for downloading fails!!  文件名[sysbin.bin]";
  clickDownloadAndWait([&](const QString& text) { return text == expected; });

  EXPECT_EQ(status, expected);
  EXPECT_TRUE(device->memory().empty());
  EXPECT_EQ(device->endOfRunByte(), std::nullopt);
  EXPECT_EQ(test::app().state().busy, BusyState::Idle);
}

}  // namespace
}  // namespace voltrix

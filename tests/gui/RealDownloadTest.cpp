// DOWNLOAD clicked in the program's own dialog against the simulated Zetak,
// with nothing stood in: the device map and the COM resolution find the
// device through their override directories, as a plugged-in device is found,
// and the run goes over the real serial link on the simulator's pty.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <filesystem>
#include <optional>
#include <vector>

#include "app/DeviceMap.h"
#include "app/ThreadWorkerLauncher.h"
#include "engine/ImageFileOps.h"
#include "engine/SystemTexts.h"
#include "serial/SerialLinkPhases.h"
#include "sim/ImageBuilder.h"
#include "sim/ZetakSimulator.h"
#include "tests/gui/AppDialogScript.h"
#include "tests/support/TempDir.h"

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

class RealDownloadTest : public ::testing::Test {
 protected:
  RealDownloadTest() { test::app().state().cancelRequested = false; }
  ~RealDownloadTest() override {
    ::unsetenv("VOLTRIX_SERIALCOMM");
    ::unsetenv("VOLTRIX_DOSDEVICES");
  }

  // Starts the device and maps it as "\Device\VCP0" = COM7.
  void plugIn(sim::SimConfig config = {}) {
    device = std::make_unique<sim::ZetakSimulator>(config);
    ASSERT_TRUE(device->start());
    std::filesystem::create_directory(dir.file("serialcomm"));
    std::filesystem::create_directory(dir.file("dosdevices"));
    test::writeFileBytes(dir.file("serialcomm/VCP0"), "COM7");
    ASSERT_EQ(::symlink(device->devicePath().c_str(), dir.file("dosdevices/COM7").c_str()), 0);
    ::setenv("VOLTRIX_SERIALCOMM", dir.file("serialcomm").c_str(), 1);
    ::setenv("VOLTRIX_DOSDEVICES", dir.file("dosdevices").c_str(), 1);
  }

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
    ASSERT_TRUE(writeImageFile(texts::kImageFileName, buildImage(records)));
  }

  // Clicks DOWNLOAD in the program's dialog, waits until the worker has
  // ended and the status line shows `lastLine`, and closes the dialog.
  void clickDownloadAndWait(const std::function<bool(const QString&)>& lastLine) {
    DownloadSeams seams;
    seams.deviceMap = systemDeviceMap();
    seams.link = std::make_shared<SerialLinkPhases>();
    auto launcher = std::make_unique<ThreadWorkerLauncher>();
    ThreadWorkerLauncher* worker = launcher.get();
    seams.launcher = std::move(launcher);
    test::runDialogScript(
        std::move(seams),
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

  test::TempDir dir;
  std::unique_ptr<sim::ZetakSimulator> device;
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

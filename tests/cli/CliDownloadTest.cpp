// voltrix-cli as a factory script runs it: a real child process, a simulated
// device on a pseudo-terminal, and the exit code and output it leaves.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "sim/ImageBuilder.h"
#include "sim/ZetakSimulator.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace voltrix {
namespace {

using test::runProcess;

std::vector<ImageRecord> threeSegments() {
  std::vector<ImageRecord> records;
  std::uint8_t value = 3;
  for (std::uint32_t length : {100u, 64u, 1u}) {
    ImageRecord record{0, static_cast<std::int32_t>(0x4000 + length * 0x100), {}, {}, {}};
    for (std::uint32_t i = 0; i < length; ++i) record.data.push_back(value += 37);
    records.push_back(record);
  }
  return records;
}

class CliDownload : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(writeImageFile("sysbin.bin", buildImage(records)));
    ASSERT_EQ(::mkdir("serialcomm", 0755), 0);
    ASSERT_EQ(::mkdir("dosdevices", 0755), 0);
  }
  void startDevice(sim::SimConfig config = {}) {
    device = std::make_unique<sim::ZetakSimulator>(config);
    ASSERT_TRUE(device->start());
    ASSERT_EQ(::symlink(device->devicePath().c_str(), "dosdevices/COM7"), 0);
    test::writeFileBytes("serialcomm/VCP0", "COM7");
  }
  // The device map and COM resolution of this test's directory.
  std::vector<std::string> environment() const {
    return {"VOLTRIX_SERIALCOMM=" + dir.file("serialcomm"),
            "VOLTRIX_DOSDEVICES=" + dir.file("dosdevices")};
  }
  test::ProcessResult cli(std::vector<std::string> args = {},
                          std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    args.insert(args.begin(), VOLTRIX_CLI);
    return runProcess(args, environment(), limit);
  }
  void expectDeviceHoldsImage() {
    for (const ImageRecord& record : records) {
      EXPECT_EQ(device->memoryRange(static_cast<std::uint32_t>(record.loadAddress),
                                    static_cast<std::uint32_t>(record.data.size())),
                record.data);
    }
  }
  static bool contains(const std::string& out, const std::string& text) {
    return out.find(text) != std::string::npos;
  }

  test::TempDir dir;
  std::vector<ImageRecord> records = threeSegments();
  std::unique_ptr<sim::ZetakSimulator> device;
};

TEST_F(CliDownload, DownloadsThroughTheDeviceMap) {
  startDevice();
  auto result = cli();
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_TRUE(contains(result.out, "Connect successfully!\n")) << result.out;
  EXPECT_TRUE(contains(result.out, "Update successfully! TIME:00:0")) << result.out;
  expectDeviceHoldsImage();
  EXPECT_EQ(device->endOfRunByte(), std::optional<std::uint8_t>('Z'));
  EXPECT_FALSE(test::fileExists("F_1_W_sysbin.bin"));
}

TEST_F(CliDownload, DownloadsIntoANamedPort) {
  startDevice();
  ::unlink("serialcomm/VCP0");  // the device map plays no part
  auto result = cli({"--port", device->devicePath()});
  EXPECT_EQ(result.exitCode, 0) << result.out;
  expectDeviceHoldsImage();
}

TEST_F(CliDownload, ARefusedHeaderFailsWithTheDevicesReason) {
  sim::SimConfig config;
  config.fault = {sim::FaultKind::Refuse, sim::SimStep::WriteHeader, 2};
  startDevice(config);
  auto result = cli();
  EXPECT_EQ(result.exitCode, 7) << result.out;
  EXPECT_TRUE(contains(result.out, "ERROR:Request for downloading fails!!  文件名[sysbin.bin]"))
      << result.out;
}

TEST_F(CliDownload, DataThatDoNotComeBackFailVerification) {
  // The fourth block read back is the one-byte segment's: it arrives empty.
  sim::SimConfig config;
  config.fault = {sim::FaultKind::ShortBlock, sim::SimStep::DataRequest, 4};
  startDevice(config);
  auto result = cli();
  EXPECT_EQ(result.exitCode, 9) << result.out;
  EXPECT_TRUE(contains(result.out, "Incorrect in verifying the read-write data!")) << result.out;
  EXPECT_EQ(device->endOfRunByte(), std::optional<std::uint8_t>(0x45));
}

TEST_F(CliDownload, ASilentDeviceEndsWithinTheDocumentedBounds) {
  sim::SimConfig silentAtOnce;
  silentAtOnce.fault = {sim::FaultKind::Silence, sim::SimStep::Sync, 1};
  startDevice(silentAtOnce);
  auto handshake = cli({"--timeout", "1"}, std::chrono::seconds(20));
  EXPECT_EQ(handshake.exitCode, 8) << handshake.out;
  EXPECT_TRUE(contains(handshake.out, "The device does not answer!")) << handshake.out;

  device.reset();
  ::unlink("dosdevices/COM7");
  sim::SimConfig silentLater;
  silentLater.fault = {sim::FaultKind::Silence, sim::SimStep::WriteData, 1};
  startDevice(silentLater);
  auto midway = cli({}, std::chrono::seconds(30));
  EXPECT_EQ(midway.exitCode, 8) << midway.out;
  EXPECT_FALSE(midway.timedOut);
}

TEST_F(CliDownload, AnUnpluggedDeviceIsReported) {
  sim::SimConfig config;
  config.fault = {sim::FaultKind::HangUp, sim::SimStep::WriteData, 2};
  startDevice(config);
  auto midway = cli();
  EXPECT_EQ(midway.exitCode, 8) << midway.out;
  EXPECT_TRUE(contains(midway.out, "The COM port has gone away!")) << midway.out;

  auto absent = cli({"--port", dir.file("no-such-tty")});
  EXPECT_EQ(absent.exitCode, 6) << absent.out;
  EXPECT_TRUE(contains(absent.out, "Fail to open the COM!")) << absent.out;
}

TEST_F(CliDownload, NamesTheCausesAnOperatorCanActOn) {
  auto noDevice = cli();
  EXPECT_EQ(noDevice.exitCode, 5) << noDevice.out;
  EXPECT_TRUE(contains(noDevice.out, "错误：设备驱动未安装！")) << noDevice.out;
  EXPECT_TRUE(contains(noDevice.out, "no USB virtual COM port is attached")) << noDevice.out;

  startDevice();
  ::unlink("sysbin.bin");
  auto noImage = cli();
  EXPECT_EQ(noImage.exitCode, 3) << noImage.out;
  EXPECT_TRUE(contains(noImage.out, "System file can't be found")) << noImage.out;
  EXPECT_TRUE(contains(noImage.out, "sysbin.bin was not found in")) << noImage.out;

  auto usage = cli({"--timeout", "soon"});
  EXPECT_EQ(usage.exitCode, 2);
}

TEST_F(CliDownload, CtrlCCancelsAWaitingRunCleanly) {
  sim::SimConfig config;
  config.fault = {sim::FaultKind::Silence, sim::SimStep::Sync, 1};
  startDevice(config);
  bool signalled = false;
  auto result = runProcess({VOLTRIX_CLI}, environment(), std::chrono::seconds(30),
                           [&](pid_t child, const std::string& out) {
                             if (!signalled && contains(out, "please wait")) {
                               ::kill(child, SIGINT);
                               signalled = true;
                             }
                           });
  EXPECT_TRUE(signalled);
  EXPECT_EQ(result.exitCode, 11) << result.out;
  EXPECT_TRUE(contains(result.out, "ERROR:Download cancelled!")) << result.out;
}

}  // namespace
}  // namespace voltrix

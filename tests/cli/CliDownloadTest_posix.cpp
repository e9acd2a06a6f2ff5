// voltrix-cli as a factory script runs it: a real child process, a simulated
// device on a pseudo-terminal, and the exit code and output it leaves.

#include <signal.h>
#include <unistd.h>

#include "tests/cli/CliFixture_posix.h"

namespace voltrix {
namespace {

using test::runProcess;

TEST_F(CliDownload, DownloadsThroughTheDeviceMap) {
  startDevice();
  auto result = cli();
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_TRUE(contains(result.out, "Connect successfully!\n")) << result.out;
  EXPECT_TRUE(contains(result.out, "Update successfully! TIME:00:0")) << result.out;
  expectDeviceHoldsImage();
  EXPECT_EQ(device->endOfRunByte(), std::optional<std::uint8_t>('Z'));
  EXPECT_FALSE(test::fileExists(dir.file("F_1_W_sysbin.bin")));
}

TEST_F(CliDownload, DownloadsIntoANamedPort) {
  startDevice();
  ::unlink(dir.file("serialcomm/VCP0").c_str());  // the device map plays no part
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
  ::unlink(dir.file("dosdevices/COM7").c_str());
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
  EXPECT_TRUE(contains(noDevice.out, "No Zetak device found: the device map")) << noDevice.out;
  EXPECT_TRUE(contains(noDevice.out, "($VOLTRIX_SERIALCOMM) holds no value VCP0")) << noDevice.out;

  startDevice();
  ::unlink(dir.file("sysbin.bin").c_str());
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

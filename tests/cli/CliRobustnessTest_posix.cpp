// voltrix-cli under awkward but real conditions: closed standard streams, an
// image that changes under a run, a damaged later segment, a reader that
// goes away, two runs in one folder.

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <thread>

#include "tests/cli/CliFixture_posix.h"

namespace voltrix {
namespace {

namespace fs = std::filesystem;
using test::runProcess;

std::vector<ImageRecord> recordsOf(std::uint8_t value) {
  std::vector<ImageRecord> records;
  for (std::uint32_t i = 0; i < 3; ++i) {
    records.push_back({0,
                       static_cast<std::int32_t>(0x1000 * (i + 1)),
                       std::vector<std::uint8_t>(700, static_cast<std::uint8_t>(value + i)),
                       {},
                       {}});
  }
  return records;
}

// Whatever stands in `folder` besides the test's own set-up.
std::vector<std::string> segmentFilesIn(const std::string& folder) {
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("F_", 0) == 0 || name.rfind("voltrix-run-", 0) == 0) found.push_back(name);
  }
  return found;
}

TEST_F(CliDownload, ClosedStandardStreamsNeverReachTheLine) {
  startDevice();
  auto result = runProcess({VOLTRIX_CLI}, environment(), std::chrono::seconds(60), {},
                           test::ChildStreams{true, 0});
  EXPECT_EQ(result.exitCode, 0);
  expectDeviceHoldsImage();
  // Nothing but protocol bytes went to the device: its first byte is 'S'.
  const auto fromHost = device->bytesFromHost();
  ASSERT_FALSE(fromHost.empty());
  EXPECT_EQ(fromHost.front(), 0x53);
  EXPECT_EQ(device->endOfRunByte(), std::optional<std::uint8_t>(0x5A));
}

TEST_F(CliDownload, TheSimulatorWorksWithClosedStandardStreams) {
  ::unlink(dir.file("dosdevices/COM7").c_str());
  ASSERT_TRUE(fs::create_directory(dir.file("links")));
  std::atomic<pid_t> simulatorPid{0};
  std::thread simulator([&] {
    runProcess({ZETAK_SIM, "--link-dir", dir.file("links"), "--com", "7"}, {},
               std::chrono::seconds(60), {}, test::ChildStreams{true, 0, &simulatorPid});
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!fs::exists(fs::symlink_status(dir.file("links/COM7"))) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  ASSERT_TRUE(fs::exists(fs::symlink_status(dir.file("links/COM7"))));
  test::writeFileBytes(dir.file("serialcomm/VCP0"), "COM7");
  auto result = runProcess({VOLTRIX_CLI}, {"VOLTRIX_SERIALCOMM=" + dir.file("serialcomm"),
                                           "VOLTRIX_DOSDEVICES=" + dir.file("links")});
  EXPECT_EQ(result.exitCode, 0) << result.out;
  ::kill(simulatorPid.load(), SIGTERM);
  simulator.join();
}

TEST_F(CliDownload, AnImageChangedDuringTheRunIsNotMixedIn) {
  records = recordsOf(0x10);
  ASSERT_TRUE(writeImageFile(dir.file("sysbin.bin"), buildImage(records)));
  sim::SimConfig slow;
  slow.paced = true;
  startDevice(slow);
  bool changed = false;
  auto result = runProcess(
      {VOLTRIX_CLI}, environment(), std::chrono::seconds(60), [&](pid_t, const std::string& out) {
        if (changed || !contains(out, "Connect successfully!")) return;
        // Rewritten in place, then replaced by another file.
        ASSERT_TRUE(writeImageFile(dir.file("sysbin.bin"), buildImage(recordsOf(0x60))));
        ASSERT_TRUE(writeImageFile(dir.file("other.bin"), buildImage(recordsOf(0x70))));
        fs::rename(dir.file("other.bin"), dir.file("sysbin.bin"));
        changed = true;
      });
  ASSERT_TRUE(changed);
  EXPECT_EQ(result.exitCode, 0) << result.out;
  expectDeviceHoldsImage();  // the image as it was when the run began, whole
  EXPECT_TRUE(segmentFilesIn(dir.path()).empty());
}

// An image with a damaged later segment is refused whole: nothing reaches
// the device, and --list marks the record and exits as DOWNLOAD does.
TEST_F(CliDownload, ADamagedLaterSegmentIsRefusedBeforeTheDeviceIsTouched) {
  struct Case {
    const char* name;
    std::function<BuiltImage(std::vector<ImageRecord>)> damage;
    const char* systemText;
    const char* listMark;
  };
  const Case cases[] = {
      {"segment 2 cut short",
       [](std::vector<ImageRecord> records) {
         auto image = buildImage(records);
         image.bytes.resize(image.recordOffsets[1] + 32 + 10);
         return image;
       },
       "The length of the file is less than initial file address!",
       "damaged: runs past the end of the file"},
      // Stored as 01 01 00: the device would take it for 0xFFFFFF.
      {"segment 2 at a negative load address",
       [](std::vector<ImageRecord> records) {
         records[1].loadAddress = -1;
         return buildImage(records);
       },
       "A segment's load address is damaged!", "damaged: a negative load address"},
  };
  startDevice();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(writeImageFile(dir.file("sysbin.bin"), c.damage(records)));
    auto result = cli();
    EXPECT_EQ(result.exitCode, 4) << result.out;
    EXPECT_TRUE(contains(result.out, c.systemText)) << result.out;
    EXPECT_TRUE(contains(result.out, "Segment 2 (the record at offset")) << result.out;
    EXPECT_TRUE(device->bytesFromHost().empty());
    EXPECT_TRUE(segmentFilesIn(dir.path()).empty());

    auto listed = runProcess({VOLTRIX_CLI, "--list"});
    EXPECT_EQ(listed.exitCode, 4) << listed.out;
    EXPECT_TRUE(contains(listed.out, c.listMark)) << listed.out;
    EXPECT_TRUE(contains(listed.out, c.systemText)) << listed.out;
  }
}

TEST_F(CliDownload, AReaderThatGoesAwayDoesNotStopTheFlash) {
  sim::SimConfig slow;
  slow.paced = true;
  startDevice(slow);
  auto result = runProcess({VOLTRIX_CLI}, environment(), std::chrono::seconds(60), {},
                           test::ChildStreams{false, 1});
  EXPECT_EQ(result.exitCode, 0);
  expectDeviceHoldsImage();
  EXPECT_EQ(device->endOfRunByte(), std::optional<std::uint8_t>(0x5A));
  EXPECT_TRUE(segmentFilesIn(dir.path()).empty());
}

TEST_F(CliDownload, TwoRunsInOneFolderKeepToTheirOwnFiles) {
  records = recordsOf(0x20);
  ASSERT_TRUE(writeImageFile(dir.file("sysbin.bin"), buildImage(records)));
  sim::SimConfig slow;
  slow.paced = true;
  startDevice(slow);
  sim::ZetakSimulator second(slow);
  ASSERT_TRUE(second.start());
  test::ProcessResult secondResult;
  std::thread other([&] {
    secondResult = runProcess({VOLTRIX_CLI, "--port", second.devicePath()});
  });
  bool sawPrivateFiles = false;
  auto result = runProcess({VOLTRIX_CLI, "--port", device->devicePath()}, {},
                           std::chrono::seconds(60), [&](pid_t, const std::string& out) {
                             // Mid-run every segment file is in a run's own folder.
                             if (!contains(out, "Connect successfully!")) return;
                             for (const std::string& name : segmentFilesIn(dir.path())) {
                               EXPECT_NE(name.rfind("F_", 0), 0u) << name;
                               sawPrivateFiles = true;
                             }
                           });
  other.join();
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_EQ(secondResult.exitCode, 0) << secondResult.out;
  EXPECT_TRUE(sawPrivateFiles);
  expectDeviceHoldsImage();
  for (const ImageRecord& record : records) {
    EXPECT_EQ(second.memoryRange(static_cast<std::uint32_t>(record.loadAddress),
                                 static_cast<std::uint32_t>(record.data.size())),
              record.data);
  }
  EXPECT_TRUE(segmentFilesIn(dir.path()).empty());
}

TEST_F(CliDownload, AFailedRunKeepsItsFilesAndSaysWhere) {
  sim::SimConfig config;
  config.fault = {sim::FaultKind::WrongByte, sim::SimStep::DataRequest, 1};
  startDevice(config);
  auto result = cli();
  EXPECT_EQ(result.exitCode, 9) << result.out;
  const auto kept = segmentFilesIn(dir.path());
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_TRUE(contains(result.out, "kept in " + dir.file(kept.front()))) << result.out;
  EXPECT_TRUE(fs::exists(dir.file(kept.front() + "/F_1_W_sysbin.bin")));
  EXPECT_TRUE(fs::exists(dir.file(kept.front() + "/F_1_R_sysbin.bin")));
}

TEST_F(CliDownload, AMapValueThatNamesNoPortIsShown) {
  for (const char* value : {"COM99999999999", "COM0", "PORT"}) {
    SCOPED_TRACE(value);
    test::writeFileBytes(dir.file("serialcomm/VCP0"), value);
    auto result = cli();
    EXPECT_EQ(result.exitCode, 6) << result.out;
    EXPECT_TRUE(contains(result.out, "Fail to open the COM!")) << result.out;
    EXPECT_TRUE(contains(result.out, std::string("\\Device\\VCP0 is \"") + value + "\""))
        << result.out;
  }
}

TEST_F(CliDownload, AnImageThatIsNoFileIsNamedForWhatItIs) {
  startDevice();
  ::unlink(dir.file("sysbin.bin").c_str());
  ASSERT_TRUE(fs::create_directory(dir.file("sysbin.bin")));
  auto folder = cli();
  EXPECT_EQ(folder.exitCode, 3) << folder.out;
  EXPECT_TRUE(contains(folder.out, "sysbin.bin in " + dir.path() + " is a directory"))
      << folder.out;
  EXPECT_TRUE(device->bytesFromHost().empty());
  EXPECT_TRUE(segmentFilesIn(dir.path()).empty());
}

}  // namespace
}  // namespace voltrix

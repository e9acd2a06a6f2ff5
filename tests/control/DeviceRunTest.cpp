// One device's run against the simulated Zetak on a pseudo-terminal: how it
// refuses to start, how a verified, a failed and a cancelled run end, and
// what each leaves on disk. Every path is made in the test's own folder.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>

#include "control/DeviceRun.h"
#include "control/ExitCodes.h"
#include "engine/ImageFileOps.h"
#include "sim/ImageBuilder.h"
#include "sim/ZetakSimulator.h"
#include "tests/support/TempDir.h"

namespace voltrix {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kRunDeadline = 30s;

ImageRecord segment(std::int32_t address, std::size_t length) {
  ImageRecord record;
  record.loadAddress = address;
  for (std::size_t i = 0; i < length; ++i) record.data.push_back(static_cast<std::uint8_t>(i * 7));
  return record;
}

class DeviceRunTest : public ::testing::Test {
 protected:
  DeviceRunTest() { state.setDefaults(); }

  void plugIn(sim::SimConfig config = {}) {
    device = std::make_unique<sim::ZetakSimulator>(config);
    ASSERT_TRUE(device->start());
  }
  void writeImage(const std::vector<ImageRecord>& records) {
    ASSERT_TRUE(writeImageFile(imagePath(), buildImage(records)));
  }
  std::string imagePath() const { return dir.file("sysbin.bin"); }

  // A run on the simulated device's node, its folder made in the test's.
  RunRequest onDevice() const {
    RunRequest request;
    request.port = RunPort::node(device->devicePath());
    request.imagePath = imagePath();
    request.runFolderParent = dir.path();
    return request;
  }
  DeviceRun::Parts parts() {
    DeviceRun::Parts parts;
    parts.timings.replyBound = 700ms;
    parts.onNews = [this] { ++news; };
    parts.onMessage = [this](const DeviceRun&, const WorkerMessage&) { ++messagesSeen; };
    return parts;
  }
  // Pumps the run the way a front end does until it has finished.
  bool pumpToEnd(DeviceRun& run, const std::function<void()>& onEachTurn = {}) {
    const auto giveUp = std::chrono::steady_clock::now() + kRunDeadline;
    while (!run.finished() && std::chrono::steady_clock::now() < giveUp) {
      run.waitForNews(100ms);
      run.pump(std::time(nullptr));
      if (onEachTurn) onEachTurn();
    }
    return run.finished();
  }
  int runFoldersLeft() const {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
      count += entry.path().filename().string().rfind("voltrix-run-", 0) == 0;
    }
    return count;
  }

  test::TempDir dir;
  DownloadState state;
  std::unique_ptr<sim::ZetakSimulator> device;
  std::atomic<int> news{0};
  int messagesSeen = 0;
};

TEST_F(DeviceRunTest, ARefusedStartSendsNothingAndLeavesNoRunFolder) {
  plugIn();
  fs::create_directory(dir.file("emptymap"));
  const auto missingMap = directoryDeviceMap(dir.file("nomap"));
  const auto emptyMap = directoryDeviceMap(dir.file("emptymap"));
  ImageRecord pastEnd = segment(0x200, 8);
  pastEnd.lengthOverride = 4000;
  ImageRecord skipped = segment(0x300, 8);
  skipped.skipFlag = SKIP_RECORD;
  const std::vector<ImageRecord> sound = {segment(0x100, 8)};
  struct Case {
    Refusal refusal;
    std::vector<ImageRecord> records;  // none: no image at all
    const DeviceMap* map;              // none: the simulated device's node
    int exitCode;
    const char* hintHas;
  };
  // clang-format off
  const Case cases[] = {
      {Refusal::ImageMissing, {}, nullptr, kExitImageMissing, "sysbin.bin was not found"},
      {Refusal::ImageEmpty, {skipped}, nullptr, kExitImageInvalid, ""},
      {Refusal::SegmentPastEnd, {sound[0], pastEnd, skipped}, nullptr, kExitImageInvalid, "claims"},
      {Refusal::RegistryDamaged, sound, missingMap.get(), kExitNoDevice, "map cannot be read"},
      {Refusal::DriverNotInstalled, sound, emptyMap.get(), kExitNoDevice, "No Zetak device"},
      {Refusal::Busy, sound, nullptr, kExitInternal, ""},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(refusalText(c.refusal));
    fs::remove(imagePath());
    if (!c.records.empty()) writeImage(c.records);
    const bool busy = c.refusal == Refusal::Busy;
    state.busy = busy ? BusyState::Downloading : BusyState::Idle;
    DeviceRun run(state, parts());
    RunRequest request = onDevice();
    if (c.map != nullptr) request.port = RunPort::fromDeviceMap(*c.map);

    EXPECT_EQ(run.start(request), c.refusal);
    EXPECT_TRUE(run.finished());
    EXPECT_EQ(run.summary().result, RunSummary::Result::Refused);
    EXPECT_EQ(run.summary().exitCode, c.exitCode);
    EXPECT_FALSE(run.summary().failureKind.empty());
    EXPECT_NE(run.hints().find(c.hintHas), std::string::npos) << run.hints();
    EXPECT_EQ(state.busy, busy ? BusyState::Downloading : BusyState::Idle);
    EXPECT_EQ(runFoldersLeft(), 0);
  }
  EXPECT_TRUE(device->bytesFromHost().empty());
}

TEST_F(DeviceRunTest, AVerifiedRunCountsItsSegmentsAndBytesAndLeavesNothing) {
  plugIn();
  const std::vector<ImageRecord> records = {segment(0x10000, 1000), segment(0x20000, 128),
                                            segment(0x30000, 37)};
  writeImage(records);
  DeviceRun run(state, parts());
  ASSERT_EQ(run.start(onDevice()), Refusal::None);
  EXPECT_FALSE(run.finished());
  ASSERT_TRUE(pumpToEnd(run));

  const RunSummary& summary = run.summary();
  EXPECT_EQ(summary.result, RunSummary::Result::Verified);
  EXPECT_EQ(summary.exitCode, kExitOk);
  EXPECT_EQ(summary.segments, 3);
  EXPECT_EQ(summary.segmentsInImage, 3);
  EXPECT_EQ(summary.bytes, 1000u + 128u + 37u);
  EXPECT_GT(summary.seconds, 0.0);
  EXPECT_EQ(summary.status.rfind("Update successfully! TIME:", 0), 0u) << summary.status;
  EXPECT_TRUE(run.hints().empty());
  EXPECT_EQ(run.progress().percent(), 100);
  EXPECT_EQ(run.portNode(), device->devicePath());
  EXPECT_GT(news, messagesSeen);  // every message, and the worker's end
  EXPECT_EQ(runFoldersLeft(), 0);
  for (const ImageRecord& record : records) {
    EXPECT_EQ(device->memoryRange(static_cast<std::uint32_t>(record.loadAddress),
                                  static_cast<std::uint32_t>(record.data.size())),
              record.data);
  }
  EXPECT_EQ(device->endOfRunByte(), std::optional<std::uint8_t>('Z'));
}

TEST_F(DeviceRunTest, AFailedRunKeepsItsFolderAndSaysWhere) {
  struct Case {
    const char* name;
    sim::FaultPlan fault;
    RunFailure failure;
    int exitCode;
  };
  // clang-format off
  const Case cases[] = {
      {"refused header", {sim::FaultKind::Refuse, sim::SimStep::WriteHeader, 3, 0ms},
       RunFailure::DownloadRefused, kExitDeviceRefused},
      {"wrong byte read back", {sim::FaultKind::WrongByte, sim::SimStep::DataRequest, 2, 0ms},
       RunFailure::VerifyMismatch, kExitVerifyFailed},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimConfig config;
    config.fault = c.fault;
    plugIn(config);
    writeImage({segment(0x10000, 64 * 4), segment(0x20000, 64 * 4)});
    DeviceRun run(state, parts());
    ASSERT_EQ(run.start(onDevice()), Refusal::None);
    ASSERT_TRUE(pumpToEnd(run));

    const RunSummary& summary = run.summary();
    EXPECT_EQ(run.failure(), c.failure);
    EXPECT_EQ(summary.result, RunSummary::Result::Failed);
    EXPECT_EQ(summary.exitCode, c.exitCode);
    EXPECT_EQ(summary.segments, 0);
    EXPECT_EQ(summary.failedSegment, 1);
    ASSERT_FALSE(summary.runFolder.empty());
    EXPECT_TRUE(fs::is_directory(summary.runFolder));
    EXPECT_NE(run.hints().find("kept in " + summary.runFolder), std::string::npos) << run.hints();
    // An attempt that will be tried again takes its folder with it.
    run.dropRunFolder();
    EXPECT_FALSE(fs::exists(summary.runFolder));
    EXPECT_TRUE(run.hints().empty());
    EXPECT_EQ(runFoldersLeft(), 0);
  }
}

TEST_F(DeviceRunTest, APortThatWillNotOpenIsHintedWithTheDeviceMapsValue) {
  writeImage({segment(0x100, 8)});
  fs::create_directory(dir.file("map"));
  test::writeFileBytes(dir.file("map/VCP0"), "COM9999");
  const auto map = directoryDeviceMap(dir.file("map"));
  DeviceRun run(state, parts());
  RunRequest request;
  request.port = RunPort::fromDeviceMap(*map);
  request.imagePath = imagePath();
  request.runFolderParent = dir.path();
  ASSERT_EQ(run.start(request), Refusal::None);
  ASSERT_TRUE(pumpToEnd(run));

  EXPECT_EQ(run.registryPort(), 9999);
  EXPECT_EQ(run.failure(), RunFailure::PortOpen);
  EXPECT_EQ(run.summary().exitCode, kExitPortUnavailable);
  EXPECT_EQ(run.summary().hint.rfind("The device map's value \\Device\\VCP0 is \"COM9999\"", 0), 0u)
      << run.summary().hint;
  EXPECT_EQ(run.hints().rfind(run.summary().hint, 0), 0u);
}

TEST_F(DeviceRunTest, ACancelEndsTheRunBeforeTheRestOfTheImage) {
  sim::SimConfig config;
  config.fault = {sim::FaultKind::LateReply, sim::SimStep::WriteHeader, 2, 300ms};
  plugIn(config);
  writeImage({segment(0x10000, 64 * 16)});
  DeviceRun run(state, parts());
  ASSERT_EQ(run.start(onDevice()), Refusal::None);
  // The second block's header is answered late: the first block is in the
  // device and the run is still under way when it is cancelled.
  ASSERT_TRUE(pumpToEnd(run, [&] {
    if (!device->memory().empty()) run.cancel();
  }));

  EXPECT_EQ(run.failure(), RunFailure::Cancelled);
  EXPECT_EQ(run.summary().exitCode, kExitCancelled);
  EXPECT_EQ(state.busy, BusyState::Idle);
  EXPECT_LT(device->memory().size(), 64u * 16u);
}

TEST_F(DeviceRunTest, AStationsRunThatFindsNoRoomEndsAsAFailedOne) {
  writeImage({segment(0x100, 8)});
  DeviceRun run(state, parts());
  RunRequest request;
  request.port = RunPort::node(dir.file("no-such-tty"));
  request.provideImage = [](DownloadState&, const std::string&) { return Refusal::NoRunFolder; };
  ASSERT_EQ(run.start(request), Refusal::NoRunFolder);
  EXPECT_EQ(run.summary().result, RunSummary::Result::Refused);
  run.endWithoutRun(RunFailure::FileOpening);

  EXPECT_TRUE(run.finished());
  EXPECT_EQ(run.summary().result, RunSummary::Result::Failed);
  EXPECT_EQ(run.summary().exitCode, kExitFileError);
  EXPECT_EQ(run.statusText().rfind("ERROR:", 0), 0u) << run.statusText();
  EXPECT_TRUE(run.summary().hint.empty());
}

}  // namespace
}  // namespace voltrix

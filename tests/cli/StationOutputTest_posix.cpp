// What a station run prints where, and what it records: one attempt per
// device however often a busy port is tried, a cancel that says so, the map
// in natural order, the waiting line with its tally, each device's verdict.

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include "tests/cli/StationFixture.h"
#include "tests/support/JsonReader.h"

namespace voltrix {
namespace {

using test::JsonReader;

test::ChildStreams apart() {
  test::ChildStreams streams;
  streams.separateError = true;
  return streams;
}

// Holds a port's lock as another program (ModemManager) would.
class PortHolder {
 public:
  explicit PortHolder(const std::string& port)
      : fd_(::open(port.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) release();
  }
  ~PortHolder() { release(); }
  bool holding() const { return fd_ >= 0; }
  void release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

TEST_F(Station, APortBusyForAWhileIsOneAttemptWithOneRecord) {
  sim::ZetakSimulator& added = addDevice();
  PortHolder holder(added.devicePath());
  ASSERT_TRUE(holder.holding());
  const auto result = runProcess(
      {VOLTRIX_CLI, "--wait", "--log", dir.file("station.jsonl")}, environment(),
      std::chrono::seconds(30),
      [&](pid_t, const std::string& out) {
        // Let it be tried three times before the other program lets go.
        if (contains(out, "(attempt 3)")) holder.release();
      },
      apart());
  holder.release();
  EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_TRUE(contains(result.err, "port busy, trying again (attempt 2)")) << result.err;
  EXPECT_TRUE(holdsImage(added));
  // One record, the verified one, counted from the first try.
  const auto records = logRecords();
  ASSERT_EQ(records.size(), 1u);
  const auto record = JsonReader::parse(records[0]);
  ASSERT_TRUE(record) << records[0];
  EXPECT_EQ((*record)["exit_code"].number, 0);
  EXPECT_GE((*record)["seconds"].number, 1.5);
  // No try left a folder behind.
  EXPECT_FALSE(runFolderLeft(dir.path()));
}

TEST_F(Station, ACancelWhileABusyPortWaitsIsACancel) {
  sim::ZetakSimulator& added = addDevice();
  PortHolder holder(added.devicePath());
  ASSERT_TRUE(holder.holding());
  const auto result = runProcess(
      {VOLTRIX_CLI, "--wait", "--log", dir.file("station.jsonl")}, environment(),
      std::chrono::seconds(30),
      [](pid_t pid, const std::string& out) {
        if (contains(out, "trying again")) ::kill(pid, SIGTERM);
      },
      apart());
  EXPECT_EQ(result.exitCode, 11) << result.out << result.err;
  EXPECT_TRUE(contains(result.out, "station cancelled by the operator")) << result.out;
  const auto records = logRecords();
  ASSERT_EQ(records.size(), 1u);
  const auto record = JsonReader::parse(records[0]);
  ASSERT_TRUE(record) << records[0];
  EXPECT_EQ((*record)["exit_code"].number, 11);
  EXPECT_EQ((*record)["failure_kind"].text, "cancelled");
  EXPECT_FALSE(runFolderLeft(dir.path()));
}

TEST_F(Station, ACancelledStationSaysSoInItsJsonWithSlotAndLabel) {
  sim::SimConfig mute;
  mute.fault = {sim::FaultKind::Silence, sim::SimStep::Sync, 1, {}};
  sim::ZetakSimulator& added = addDevice(mute);
  // The trace shows the first request go out: that is when to cancel.
  const auto result = runProcess(
      {VOLTRIX_CLI, "--watch", "--json", "-v", "--label", added.devicePath() + "=bench-left"},
      environment(), std::chrono::seconds(30),
      [](pid_t pid, const std::string& out) {
        if (contains(out, "-> 53")) ::kill(pid, SIGINT);
      },
      apart());
  EXPECT_EQ(result.exitCode, 11) << result.out << result.err;
  const auto lines = linesOf(result.out);
  ASSERT_EQ(lines.size(), 1u) << result.out;
  const auto json = JsonReader::parse(lines[0]);
  ASSERT_TRUE(json) << lines[0];
  EXPECT_TRUE((*json)["station_cancelled"].truth);
  EXPECT_EQ((*json)["failure_kind"].text, "cancelled");
  EXPECT_EQ((*json)["label"].text, "bench-left");
  EXPECT_TRUE(json->has("slot"));
  EXPECT_EQ((*json)["port"].text, added.devicePath());
}

TEST_F(Station, AllTakesTheMapInNaturalOrder) {
  addDeviceAs("VCP10");
  addDeviceAs("VCP2");
  const auto result = runProcess({VOLTRIX_CLI, "--all", "--json"}, environment(),
                                 std::chrono::seconds(30), {}, apart());
  EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
  const auto lines = linesOf(result.out);
  ASSERT_EQ(lines.size(), 2u) << result.out;
  EXPECT_TRUE(contains(lines[0], devices[1]->devicePath())) << lines[0];
  EXPECT_TRUE(contains(lines[1], devices[0]->devicePath())) << lines[1];
}

TEST_F(Station, WatchingShowsTheTallyAndEachDevicesVerdict) {
  sim::SimConfig bad;
  bad.fault = {sim::FaultKind::WrongByte, sim::SimStep::DataRequest, 1, {}};
  addDevice();
  // The second device is plugged in once the station waits with the first
  // one's result in its tally.
  const auto result = runProcess(
      {VOLTRIX_CLI, "--watch", "--count", "2"}, environment(), std::chrono::seconds(60),
      [&](pid_t, const std::string& out) {
        if (devices.size() == 1 && contains(out, "waiting for devices: 1 verified, 0 failed")) {
          addDevice(bad);
        }
      },
      apart());
  EXPECT_EQ(result.exitCode, 9) << result.out << result.err;
  EXPECT_TRUE(contains(result.err, "waiting for devices: 0 verified, 0 failed")) << result.err;
  EXPECT_TRUE(contains(result.err, "waiting for devices: 1 verified, 0 failed")) << result.err;
  EXPECT_TRUE(contains(result.err, devices[0]->devicePath() + ": PASS (exit 0)")) << result.err;
  EXPECT_TRUE(contains(result.err, devices[1]->devicePath() + ": FAIL (exit 9)")) << result.err;
  // The table alone is the result: its heading and a row per device.
  const auto table = linesOf(result.out);
  ASSERT_EQ(table.size(), 3u) << result.out;
  EXPECT_EQ(table[0].rfind("slot", 0), 0u) << result.out;
}

TEST_F(Station, AnErrorTextNamesTheImageEvenBeforeTheWorkerRuns) {
  const auto withoutTemporaryFolder = [this] {
    auto variables = environment();
    variables.push_back("TMPDIR=/proc/none");
    return variables;
  };
  // The station is started in a folder that is gone by the time a device
  // appears, and the temporary directory names no folder either, so the
  // device's run folder cannot be made.
  ASSERT_EQ(::mkdir(dir.file("work").c_str(), 0755), 0);
  ASSERT_EQ(::rename(dir.file("sysbin.bin").c_str(), dir.file("work/sysbin.bin").c_str()), 0);
  test::ChildStreams inWork = apart();
  inWork.workingDirectory = dir.file("work");
  bool plugged = false;
  const auto result = runProcess(
      {VOLTRIX_CLI, "--wait"}, withoutTemporaryFolder(), std::chrono::seconds(30),
      [&](pid_t, const std::string& out) {
        if (plugged || !contains(out, "waiting for devices")) return;
        plugged = true;
        EXPECT_EQ(::unlink(dir.file("work/sysbin.bin").c_str()), 0);
        EXPECT_EQ(::rmdir(dir.file("work").c_str()), 0);
        addDevice();
      },
      inWork);
  EXPECT_EQ(result.exitCode, 10) << result.out << result.err;
  EXPECT_TRUE(contains(result.err, "文件名[sysbin.bin]")) << result.err;
  EXPECT_FALSE(contains(result.err, "文件名[]")) << result.err;
}

}  // namespace
}  // namespace voltrix

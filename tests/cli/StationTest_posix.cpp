// voltrix-cli flashing several simulated devices in one call, and watching
// the device map for devices that come one after another.

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>

#include <filesystem>
#include <sstream>
#include <thread>

#include "cli/CliOptions.h"
#include "station/StationExitCode.h"
#include "tests/cli/StationFixture.h"

namespace voltrix {
namespace {

using Clock = std::chrono::steady_clock;

TEST_F(Station, FourDevicesOfTheMapFlashedSideBySide) {
  for (int i = 0; i < 4; ++i) addDevice();
  const auto result = cli({"--all", "--log", dir.file("station.jsonl")});
  EXPECT_EQ(result.exitCode, 0) << result.out;
  for (const auto& device : devices) {
    EXPECT_TRUE(holdsImage(*device));
    EXPECT_EQ(device->endOfRunByte(), std::optional<std::uint8_t>(kVerified));
    // The table has one row for it, verified.
    EXPECT_TRUE(contains(result.out, device->devicePath() + "    3 of 3 ")) << result.out;
  }
  EXPECT_FALSE(runFolderLeft(dir.path()));
  const auto records = logRecords();
  ASSERT_EQ(records.size(), 4u);
  for (const std::string& record : records) EXPECT_TRUE(contains(record, "\"exit_code\":0"));
}

TEST_F(Station, OneBadReadBackAmongFourFailsThatDeviceAlone) {
  sim::SimConfig bad;
  bad.fault = {sim::FaultKind::WrongByte, sim::SimStep::DataRequest, 2, {}};
  for (int i = 0; i < 4; ++i) addDevice(i == 2 ? bad : sim::SimConfig{});
  std::vector<std::string> args = portArguments();
  args.insert(args.end(), {"--log", dir.file("station.jsonl")});
  const auto result = cli(args);
  EXPECT_EQ(result.exitCode, 9) << result.out;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    EXPECT_EQ(devices[i]->endOfRunByte(),
              std::optional<std::uint8_t>(i == 2 ? kFailed : kVerified));
  }
  // Into a pipe every line before the table names its device's port.
  const auto lines = linesOf(result.out);
  const auto table = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
    return line.rfind("slot", 0) == 0;
  });
  ASSERT_NE(table, lines.end()) << result.out;
  ASSERT_NE(table, lines.begin());
  for (auto line = lines.begin(); line != table; ++line) {
    EXPECT_TRUE(std::any_of(devices.begin(), devices.end(), [&](const auto& device) {
      return line->rfind(device->devicePath() + ": ", 0) == 0;
    })) << *line;
  }
  EXPECT_TRUE(contains(result.out,
                       "read-back differs from the image, segment 1 at 0x0000A400 "
                       "(Incorrect in verifying the read-write data!) (exit 9)"))
      << result.out;
  const auto records = logRecords();
  ASSERT_EQ(records.size(), 4u);
  const auto failed = std::count_if(records.begin(), records.end(), [](const std::string& record) {
    return contains(record, "\"result\":\"failed on ") && contains(record, "\"exit_code\":9") &&
           contains(record, "\"failure_kind\":\"read_back_mismatch\"") &&
           contains(record, "\"failed_segment\":1,\"failed_address\":\"0x0000A400\"") &&
           contains(record, "/voltrix-run-");
  });
  EXPECT_EQ(failed, 1);
}

TEST_F(Station, ASilentDeviceDoesNotHoldUpTheOthers) {
  sim::SimConfig silent;
  silent.fault = {sim::FaultKind::Silence, sim::SimStep::WriteData, 1, {}};
  for (int i = 0; i < 4; ++i) addDevice(i == 0 ? silent : sim::SimConfig{});
  std::vector<std::string> args = portArguments();
  args.insert(args.end(), {"--reply-timeout", "3", "--json"});
  const auto result = cli(args);
  EXPECT_EQ(result.exitCode, 8) << result.out;
  // One JSON object per device: the silent one gave up after its reply
  // bound, the others finished long before it.
  const auto lines = linesOf(result.out);
  ASSERT_EQ(lines.size(), 4u) << result.out;
  EXPECT_TRUE(contains(lines[0], "\"exit_code\":8"));
  for (std::size_t i = 1; i < lines.size(); ++i) {
    EXPECT_TRUE(contains(lines[i], "\"exit_code\":0")) << lines[i];
    const double seconds = std::stod(lines[i].substr(lines[i].find("\"seconds\":") + 10));
    EXPECT_LT(seconds, 2.0) << lines[i];
  }
}

TEST_F(Station, WatchFlashesEachDeviceThatAppearsOnce) {
  std::thread plugging([&] {
    for (int i = 0; i < 3; ++i) {
      sim::ZetakSimulator& added = addDevice();
      // The next one is plugged in once this one holds the image.
      const auto deadline = Clock::now() + std::chrono::seconds(30);
      while (!added.endOfRunByte() && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
  });
  const auto result = cli({"--watch", "--count", "3", "--log", dir.file("station.jsonl")});
  plugging.join();
  EXPECT_EQ(result.exitCode, 0) << result.out;
  for (const auto& device : devices) {
    EXPECT_TRUE(holdsImage(*device));
    EXPECT_EQ(device->endOfRunByte(), std::optional<std::uint8_t>(kVerified));
  }
  EXPECT_EQ(logRecords().size(), 3u);
}

// A device unplugged and plugged in again is a new device however short the
// gap: after a run cut off by the unplug, and after a verified run.
TEST_F(Station, AQuickReplugIsFlashedAgain) {
  struct Case {
    const char* name;
    sim::FaultPlan fault;
    int exitCode;
  };
  const Case cases[] = {
      {"unplugged mid-flash", {sim::FaultKind::HangUp, sim::SimStep::WriteData, 2, {}}, 8},
      {"replugged after a verified run", {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    devices.clear();
    for (const char* stale : {"dosdevices/COM10", "serialcomm/VCP0", "station.jsonl"}) {
      ::unlink(dir.file(stale).c_str());
    }
    sim::SimConfig config;
    config.fault = c.fault;
    const bool hangsUp = c.fault.kind == sim::FaultKind::HangUp;
    sim::ZetakSimulator& first = addDevice(config);
    // The first device goes away (its run ended, or it hung up) and another
    // takes its place under the same name at once.
    std::thread replugging([&] {
      const auto deadline = Clock::now() + std::chrono::seconds(20);
      while (!(hangsUp ? first.hungUp() : first.endOfRunByte().has_value()) &&
             Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      auto next = std::make_unique<sim::ZetakSimulator>();
      EXPECT_TRUE(next->start());
      const std::string port = next->devicePath();
      devices.push_back(std::move(next));
      EXPECT_EQ(::unlink(dir.file("dosdevices/COM10").c_str()), 0);
      EXPECT_EQ(::symlink(port.c_str(), dir.file("dosdevices/COM10").c_str()), 0);
    });
    const auto result =
        runProcess({VOLTRIX_CLI, "--watch", "--count", "2", "--log", dir.file("station.jsonl")},
                   environment(), std::chrono::seconds(30));
    replugging.join();
    EXPECT_FALSE(result.timedOut) << result.out;
    EXPECT_EQ(result.exitCode, c.exitCode) << result.out;
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_TRUE(holdsImage(*devices[1]));
    EXPECT_EQ(devices[1]->endOfRunByte(), std::optional<std::uint8_t>(kVerified));
    EXPECT_EQ(logRecords().size(), 2u);
  }
}

TEST_F(Station, CtrlCWhileWatchingCancelsTheRunAndPrintsTheTable) {
  sim::SimConfig mute;
  mute.fault = {sim::FaultKind::Silence, sim::SimStep::Sync, 1, {}};
  addDevice(mute);
  const auto result = runProcess({VOLTRIX_CLI, "--watch"}, environment(), std::chrono::seconds(30),
                                 [](pid_t pid, const std::string& out) {
                                   if (contains(out, "Request for downloading"))
                                     ::kill(pid, SIGINT);
                                 });
  EXPECT_EQ(result.exitCode, 11) << result.out;
  EXPECT_TRUE(contains(result.out, "(Download cancelled!) (exit 11)")) << result.out;
  EXPECT_TRUE(contains(result.out, "station cancelled by the operator")) << result.out;
}

TEST_F(Station, APortHeldRightAfterItAppearedIsTriedAgain) {
  sim::ZetakSimulator& added = addDevice();
  // Another program holds the port's lock, as ModemManager does for a while.
  int holder = ::open(added.devicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  const auto result = runProcess({VOLTRIX_CLI, "--wait"}, environment(), std::chrono::seconds(30),
                                 [&](pid_t, const std::string& out) {
                                   if (holder >= 0 && contains(out, "Fail to open the COM!")) {
                                     ::close(holder);
                                     holder = -1;
                                   }
                                 });
  if (holder >= 0) ::close(holder);
  EXPECT_TRUE(contains(result.out, "Fail to open the COM!")) << result.out;
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_TRUE(holdsImage(added));
}

TEST_F(Station, ARunOnOneDeviceLogsItsAttemptToo) {
  startDevice();
  const auto result = cli({"--log", dir.file("station.jsonl"), "--station", "line-3"});
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_TRUE(contains(result.out, "verified 3 segments, 165 bytes, on " + device->devicePath()));
  EXPECT_FALSE(contains(result.out, "slot"));
  const auto records = logRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(contains(records[0], "\"station\":\"line-3\""));
  EXPECT_TRUE(contains(records[0], "\"port\":\"" + device->devicePath() + "\""));
}

TEST_F(Station, WhatStopsTheWholeCallReadsAsWithOneDevice) {
  // An empty device map: nothing to flash.
  auto result = cli({"--all"});
  EXPECT_EQ(result.exitCode, 5) << result.out;
  EXPECT_TRUE(contains(result.out, "refused: ")) << result.out;
  addDevice();
  addDevice();
  ASSERT_EQ(::unlink(dir.file("sysbin.bin").c_str()), 0);
  result = cli(portArguments());
  EXPECT_EQ(result.exitCode, 3) << result.out;
  EXPECT_TRUE(contains(result.out,
                       "refused: the image cannot be opened (System file can't be found) (exit 3), "
                       "nothing sent"))
      << result.out;
  for (const auto& device : devices) EXPECT_TRUE(device->bytesFromHost().empty());
}

TEST(StationOptions, ConflictsAreUsageErrors) {
  using cli::parseOptions;
  const auto parse = [](std::vector<const char*> args) {
    args.insert(args.begin(), "voltrix-cli");
    return parseOptions(static_cast<int>(args.size()), args.data());
  };
  EXPECT_FALSE(parse({"--all", "--port", "/dev/a"}).options);
  EXPECT_FALSE(parse({"--count", "2"}).options);
  EXPECT_FALSE(parse({"--watch", "--count", "0"}).options);
  EXPECT_FALSE(parse({"--port", "/dev/a", "--port", "/dev/a"}).options);
  EXPECT_FALSE(parse({"--all", "--label", "nameless"}).options);
  EXPECT_FALSE(parse({"--port", "/dev/a", "--label", "/dev/a=A"}).options);

  const auto wait = parse({"--wait", "--label", "pci-0:1.0=left"});
  ASSERT_TRUE(wait.options);
  EXPECT_TRUE(wait.options->watch);
  EXPECT_EQ(wait.options->count, std::optional<int>(1));
  EXPECT_EQ(wait.options->labels.front().second, "left");
  // One --port is the run on one device it always was.
  const auto one = parse({"--port", "/dev/a"});
  ASSERT_TRUE(one.options);
  EXPECT_FALSE(one.options->stationRun());
  EXPECT_EQ(one.options->port, std::optional<std::string>("/dev/a"));
}

TEST(StationOptions, TheWorstExitCodeStandsForTheStation) {
  EXPECT_EQ(worstExitCode({0, 8, 9, 6}), 9);
  EXPECT_EQ(worstExitCode({0, 11, 8}), 8);
  EXPECT_EQ(worstExitCode({0, 0, 11}), 11);
  EXPECT_EQ(worstExitCode({}), 0);
}

}  // namespace
}  // namespace voltrix

// A station driven from another thread, as a service drives it: paused,
// drained, stopped and cancelled while simulated devices run, and what it
// tells its observer, in order and in typed fields.

#include <algorithm>
#include <filesystem>

#include "station/StationTargets.h"
#include "tests/station/StationRig_posix.h"

namespace voltrix::test {
namespace {

using Kind = EventLog::Kind;
using Clock = std::chrono::steady_clock;

// Runs the station on a thread of its own until it ends; one that does not
// end in time is cancelled, and the test fails.
class Running {
 public:
  Running(Station& station, EventLog& events)
      : station_(station), events_(events), thread_([this] { exitCode_ = station_.run(); }) {}
  ~Running() { join(); }
  int join() {
    if (!thread_.joinable()) return exitCode_;
    if (!events_.waitFor([this] { return events_.end.has_value(); })) {
      ADD_FAILURE() << "the station did not end";
      station_.cancel();
    }
    thread_.join();
    return exitCode_;
  }

 private:
  Station& station_;
  EventLog& events_;
  int exitCode_ = -1;
  std::thread thread_;
};

TEST_F(StationRig, APauseLetsTheRunningDeviceFinishAndStartsNoOtherUntilResumed) {
  sim::ZetakSimulator& first = plug(slow());
  StationPlan watching = plan();
  watching.watch = true;
  watching.count = 2;
  Station station(watching, events);
  Running running(station, events);
  ASSERT_TRUE(events.waitFor([&] { return !events.started.empty(); }));
  station.pause();
  sim::ZetakSimulator& second = plug();
  const auto plugged = Clock::now();
  // The first finishes verified; the second is left alone while the station
  // looks at the map again and again (at least once a second).
  ASSERT_TRUE(events.waitFor([&] {
    return !events.finished.empty() && !events.passes.empty() &&
           events.passes.back().second > plugged + std::chrono::milliseconds(1500);
  }));
  EXPECT_EQ(events.look([&] { return events.appeared.size(); }), 1u);
  EXPECT_TRUE(events.look([&] { return events.passes.back().first.paused; }));
  EXPECT_TRUE(second.bytesFromHost().empty());
  EXPECT_TRUE(holdsImage(first));
  station.resume();
  EXPECT_EQ(running.join(), 0);
  EXPECT_TRUE(holdsImage(second));

  // The first device's story, in order: it appeared, its run started, its
  // progress moved on to the whole image, and it finished, recorded.
  const std::vector<Kind> story = events.kindsOf(0);
  ASSERT_GE(story.size(), 4u);
  EXPECT_EQ(story[0], Kind::Appeared);
  EXPECT_EQ(story[1], Kind::Started);
  EXPECT_EQ(story.back(), Kind::Finished);
  EXPECT_TRUE(std::all_of(story.begin() + 2, story.end() - 1,
                          [](Kind kind) { return kind == Kind::Progress; }));
  EXPECT_EQ(events.appeared[0].target.port, first.devicePath());
  EXPECT_EQ(events.started[0].attempt, 1);
  int percent = 0;
  for (const DeviceProgress& step : events.progress) {
    if (step.device != 0) continue;
    EXPECT_GE(step.percent, percent);
    percent = step.percent;
  }
  const auto last = std::find_if(events.progress.rbegin(), events.progress.rend(),
                                 [](const DeviceProgress& step) { return step.device == 0; });
  ASSERT_NE(last, events.progress.rend());
  EXPECT_EQ(last->segment, 2);
  EXPECT_EQ(last->segmentCount, 2);
  EXPECT_EQ(last->bytesVerified, 165u);
  const RunFinished& done = events.finished[0];
  EXPECT_EQ(done.summary.result, RunSummary::Result::Verified);
  EXPECT_EQ(done.summary.port, first.devicePath());
  EXPECT_EQ(done.summary.logRecordKept, std::optional<bool>(true));
  EXPECT_FALSE(done.logRecordLost);
  EXPECT_LE(done.started, done.ended);
  // The second's story begins the same way, once the station was resumed.
  const std::vector<Kind> next = events.kindsOf(1);
  ASSERT_GE(next.size(), 2u);
  EXPECT_EQ(next[0], Kind::Appeared);
  EXPECT_EQ(next[1], Kind::Started);
  ASSERT_TRUE(events.end);
  EXPECT_EQ(events.entries.back().kind, Kind::End);
  EXPECT_TRUE(events.end->ran);
  EXPECT_FALSE(events.end->cancelled);
  EXPECT_EQ(events.end->verified, 2);
  ASSERT_EQ(events.end->devices.size(), 2u);
  EXPECT_EQ(events.end->devices[1].target.port, second.devicePath());
  EXPECT_EQ(linesOf(readFileBytes(dir.file("station.jsonl"))).size(), 2u);
}

TEST_F(StationRig, ADrainFinishesTheRunningDeviceAndStartsNoneOfThoseWaiting) {
  sim::ZetakSimulator& first = plug(slow());
  StationPlan watching = plan();
  watching.watch = true;  // without end, but for the drain
  Station station(watching, events);
  Running running(station, events);
  ASSERT_TRUE(events.waitFor([&] { return !events.started.empty(); }));
  station.drain();
  sim::ZetakSimulator& second = plug();
  EXPECT_EQ(running.join(), 0);
  EXPECT_TRUE(holdsImage(first));
  EXPECT_TRUE(second.bytesFromHost().empty());
  EXPECT_EQ(events.appeared.size(), 1u);
  ASSERT_TRUE(events.end);
  EXPECT_EQ(events.end->devices.size(), 1u);
  // Once draining, the station waits for no more devices.
  EXPECT_TRUE(events.passes.back().first.draining);
  EXPECT_FALSE(events.passes.back().first.waitingForDevices);
}

TEST_F(StationRig, GivenDevicesWaitingInAPauseAreNotStartedByADrain) {
  const sim::ZetakSimulator& first = plug();
  const sim::ZetakSimulator& second = plug();
  StationPlan given = plan();
  given.targets = targetsOfPorts({first.devicePath(), second.devicePath()}, {});
  Station station(given, events);
  station.pause();
  Running running(station, events);
  ASSERT_TRUE(events.waitFor([&] { return !events.passes.empty(); }));
  EXPECT_TRUE(events.look([&] { return events.appeared.empty(); }));
  station.drain();
  EXPECT_EQ(running.join(), 0);
  EXPECT_TRUE(events.appeared.empty());
  EXPECT_TRUE(first.bytesFromHost().empty());
  EXPECT_TRUE(second.bytesFromHost().empty());
  ASSERT_TRUE(events.end);
  EXPECT_TRUE(events.end->ran);
  EXPECT_TRUE(events.end->devices.empty());
}

TEST_F(StationRig, AStopFromAnotherThreadReturnsOnceTheStationHasEnded) {
  sim::ZetakSimulator& first = plug(slow());
  StationPlan watching = plan();
  watching.watch = true;
  Station station(watching, events);
  bool endedBeforeStopReturned = false;
  std::thread stopper([&] {
    if (!events.waitFor([&] { return !events.started.empty(); })) return;
    station.stop();
    endedBeforeStopReturned = events.look([&] { return events.end.has_value(); });
  });
  EXPECT_EQ(station.run(), 0);
  stopper.join();
  EXPECT_TRUE(endedBeforeStopReturned);
  EXPECT_TRUE(holdsImage(first));
  EXPECT_EQ(events.finished.size(), 1u);
  station.stop();  // returns at once: the station no longer runs
}

TEST_F(StationRig, ACancelFromAnotherThreadEndsTheRunningDeviceAsCancelled) {
  sim::SimConfig mute;
  mute.fault = {sim::FaultKind::Silence, sim::SimStep::Sync, 1, {}};
  const sim::ZetakSimulator& device = plug(mute);
  StationPlan given = plan();
  given.targets = targetsOfPorts({device.devicePath()}, {});
  Station station(given, events);
  Running running(station, events);
  ASSERT_TRUE(events.waitFor([&] { return !events.started.empty(); }));
  station.cancel();
  EXPECT_EQ(running.join(), 11);
  ASSERT_EQ(events.finished.size(), 1u);
  EXPECT_EQ(events.finished[0].summary.exitCode, 11);
  ASSERT_TRUE(events.end);
  EXPECT_TRUE(events.end->cancelled);
  EXPECT_TRUE(events.end->devices[0].summary.stationCancelled);
}

TEST_F(StationRig, ALabelThatNamesNoDeviceIsAWarningAndAFailedRunKeepsItsFolderWhereAsked) {
  sim::SimConfig bad;
  bad.fault = {sim::FaultKind::WrongByte, sim::SimStep::DataRequest, 1, {}};
  const sim::ZetakSimulator& device = plug(bad);
  StationPlan all = plan();
  all.allOfDeviceMap = true;
  all.labels = {{"/dev/nowhere", "ghost"}, {device.devicePath(), "left"}};
  Station station(all, events);
  EXPECT_EQ(station.run(), 9);
  ASSERT_EQ(events.warnings.size(), 1u);
  EXPECT_EQ(events.warnings[0].kind, StationWarning::Kind::LabelMatchedNoDevice);
  EXPECT_EQ(events.warnings[0].among, StationWarning::Among::DeviceMap);
  EXPECT_EQ(events.warnings[0].label, "/dev/nowhere=ghost");
  ASSERT_EQ(events.finished.size(), 1u);
  const RunSummary& summary = events.finished[0].summary;
  EXPECT_EQ(summary.label, "left");
  EXPECT_EQ(summary.failureKind, "read_back_mismatch");
  EXPECT_EQ(summary.runFolder.rfind(dir.path() + "/voltrix-run-", 0), 0u) << summary.runFolder;
  EXPECT_TRUE(std::filesystem::is_directory(summary.runFolder));
}

TEST_F(StationRig, WhatStopsTheStationBeforeAnyDeviceIsToldAndTouchesNone) {
  struct Case {
    const char* name;
    void (*change)(StationPlan& plan, const TempDir& dir);
    std::optional<Refusal> refusal;  // empty: the log cannot be opened
    int exitCode;
  };
  const Case cases[] = {
      {"no image", [](StationPlan& p, const TempDir& d) { p.imagePath = d.file("none.bin"); },
       Refusal::ImageMissing, 3},
      {"a log in no folder",
       [](StationPlan& p, const TempDir& d) { p.logFile = d.file("none/station.jsonl"); },
       std::nullopt, 10},
      {"a device map without a port",
       [](StationPlan& p, const TempDir&) {
         p.targets.clear();
         p.allOfDeviceMap = true;
         ::unlink((std::string(std::getenv("VOLTRIX_SERIALCOMM")) + "/VCP0").c_str());
       },
       Refusal::DriverNotInstalled, 5},
  };
  const sim::ZetakSimulator& device = plug();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StationPlan changed = plan();
    changed.targets = targetsOfPorts({device.devicePath()}, {});
    c.change(changed, dir);
    EventLog seen;
    Station station(changed, seen);
    EXPECT_EQ(station.run(), c.exitCode);
    EXPECT_EQ(seen.refusal.has_value(), c.refusal.has_value());
    if (c.refusal && seen.refusal) {
      EXPECT_EQ(seen.refusal->refusal, *c.refusal);
      EXPECT_EQ(seen.refusal->summary.exitCode, c.exitCode);
    }
    EXPECT_EQ(seen.logError.has_value(), !c.refusal.has_value());
    EXPECT_TRUE(seen.appeared.empty());
    ASSERT_TRUE(seen.end);
    EXPECT_FALSE(seen.end->ran);
    EXPECT_EQ(seen.end->exitCode, c.exitCode);
  }
  EXPECT_TRUE(device.bytesFromHost().empty());
}

}  // namespace
}  // namespace voltrix::test

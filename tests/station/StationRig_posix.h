#pragma once
// A station in the test's own process: simulated devices on pseudo-terminals
// entered in a folder device map, every path under the test's temporary
// folder, and an observer that keeps every event so that a test can wait
// for one and check the order and the fields.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/ImageBuilder.h"
#include "sim/ZetakSimulator.h"
#include "station/Station.h"
#include "tests/support/TempDir.h"

namespace voltrix::test {

class EventLog final : public StationObserver {
 public:
  using Clock = std::chrono::steady_clock;
  // What the station told about no device in particular is Station.
  enum class Kind { Appeared, Started, Progress, BusyRetry, Finished, Station, Pass, End };
  struct Entry {
    Kind kind;
    std::size_t device;  // 0 for the station's own events
  };

  // Waits until `ready` (read under the log's lock) holds, at most `limit`.
  template <class Ready>
  bool waitFor(Ready ready, std::chrono::seconds limit = std::chrono::seconds(30)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, ready);
  }

  // What `look` makes of the events so far, read under the log's lock.
  template <class Look>
  auto look(Look look) {
    const std::lock_guard lock(mutex_);
    return look();
  }

  void deviceAppeared(const DeviceAppeared& event) override {
    note(Kind::Appeared, event.device, [&] { appeared.push_back(event); });
  }
  void runStarted(const RunStarted& event) override {
    note(Kind::Started, event.device, [&] { started.push_back(event); });
  }
  void progressChanged(const DeviceProgress& event) override {
    note(Kind::Progress, event.device, [&] { progress.push_back(event); });
  }
  void portBusyRetry(const PortBusyRetry& event) override {
    note(Kind::BusyRetry, event.device, [] {});
  }
  void runFinished(const RunFinished& event) override {
    note(Kind::Finished, event.device, [&] { finished.push_back(event); });
  }
  void warning(const StationWarning& event) override {
    note(Kind::Station, 0, [&] { warnings.push_back(event); });
  }
  void refused(const StationRefused& event) override {
    note(Kind::Station, 0, [&] { refusal = event; });
  }
  void logUnavailable(const std::string& error) override {
    note(Kind::Station, 0, [&] { logError = error; });
  }
  void passDone(const StationPass& event) override {
    note(Kind::Pass, 0, [&] { passes.push_back({event, Clock::now()}); });
  }
  void stationStarted(const StationStarted& event) override {
    note(Kind::Station, 0, [&] { startedWith = event; });
  }
  void jobNotice(const StationJobNotice& event) override {
    note(Kind::Station, 0, [&] { jobs.push_back(event); });
  }
  void stationFinished(const StationFinished& event) override {
    note(Kind::End, 0, [&] { end = event; });
  }

  // The kinds of the events about `device`, passes left out.
  std::vector<Kind> kindsOf(std::size_t device) const {
    std::vector<Kind> kinds;
    for (const Entry& entry : entries) {
      const bool ofDevice =
          entry.kind != Kind::Station && entry.kind != Kind::Pass && entry.kind != Kind::End;
      if (entry.device == device && ofDevice) {
        kinds.push_back(entry.kind);
      }
    }
    return kinds;
  }

  std::vector<Entry> entries;
  std::vector<DeviceAppeared> appeared;
  std::vector<RunStarted> started;
  std::vector<DeviceProgress> progress;
  std::vector<RunFinished> finished;
  std::vector<StationWarning> warnings;
  std::optional<StationRefused> refusal;
  std::optional<std::string> logError;
  std::vector<std::pair<StationPass, Clock::time_point>> passes;
  std::optional<StationFinished> end;
  std::optional<StationStarted> startedWith;
  std::vector<StationJobNotice> jobs;

 private:
  template <class Keep>
  void note(Kind kind, std::size_t device, Keep keep) {
    {
      const std::lock_guard lock(mutex_);
      entries.push_back({kind, device});
      keep();
    }
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
};

class StationRig : public ::testing::Test {
 protected:
  void SetUp() override {
    records = {{0, 0x4000, std::vector<std::uint8_t>(100, 0x5A), {}, {}},
               {0, 0x8000, std::vector<std::uint8_t>(65, 0x3C), {}, {}}};
    ASSERT_TRUE(writeImageFile(dir.file("sysbin.bin"), buildImage(records)));
    ASSERT_EQ(::mkdir(dir.file("serialcomm").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(dir.file("dosdevices").c_str(), 0755), 0);
    ::setenv("VOLTRIX_SERIALCOMM", dir.file("serialcomm").c_str(), 1);
    ::setenv("VOLTRIX_DOSDEVICES", dir.file("dosdevices").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("VOLTRIX_SERIALCOMM");
    ::unsetenv("VOLTRIX_DOSDEVICES");
  }

  // Starts a device and enters it in the device map as \Device\VCP<n>.
  sim::ZetakSimulator& plug(sim::SimConfig config = {}) {
    const std::size_t n = devices.size();
    devices.push_back(std::make_unique<sim::ZetakSimulator>(config));
    sim::ZetakSimulator& added = *devices.back();
    EXPECT_TRUE(added.start());
    const std::string com = "COM" + std::to_string(10 + n);
    EXPECT_EQ(::symlink(added.devicePath().c_str(), dir.file("dosdevices/" + com).c_str()), 0);
    writeFileBytes(dir.file("serialcomm/VCP" + std::to_string(n)), com);
    return added;
  }
  // A device whose run takes a while: its answer to the first read-back
  // acknowledgement comes late, well within the reply bound.
  static sim::SimConfig slow() {
    sim::SimConfig config;
    config.fault = {sim::FaultKind::LateReply, sim::SimStep::ReadAck, 1,
                    std::chrono::milliseconds(1500)};
    return config;
  }

  StationPlan plan() const {
    StationPlan plan;
    plan.imagePath = dir.file("sysbin.bin");
    plan.runFolders = dir.path();
    plan.logFile = dir.file("station.jsonl");
    plan.stationName = "bench-1";
    return plan;
  }

  bool holdsImage(const sim::ZetakSimulator& device) const {
    for (const ImageRecord& record : records) {
      if (device.memoryRange(static_cast<std::uint32_t>(record.loadAddress),
                             static_cast<std::uint32_t>(record.data.size())) != record.data) {
        return false;
      }
    }
    return true;
  }

  TempDir dir;
  std::vector<ImageRecord> records;
  std::vector<std::unique_ptr<sim::ZetakSimulator>> devices;
  EventLog events;
};

}  // namespace voltrix::test

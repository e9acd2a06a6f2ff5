#pragma once
// The station as the service shows it: each slot's state, the counts, the
// metrics, and a numbered stream of events for the event-stream clients.
// The station's thread tells it what happens and never waits here for
// longer than a copy under a short lock; readers take snapshots, and an
// event-stream writer waits on a condition variable for events newer than
// the last it sent.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "record/JsonText.h"
#include "station/StationObserver.h"

namespace voltrix::service {

class StationHub final : public StationObserver {
 public:
  // The newest events are kept for a stream that fell behind: one that
  // falls further behind than this is closed (the page then reloads its
  // state).
  static constexpr std::size_t kKeptEvents = 4096;
  // The upper bounds of the run-time histogram, in seconds.
  static constexpr double kSecondsBuckets[] = {1, 2, 5, 10, 20, 30, 60, 120, 300, 600};

  StationHub();

  // What the dashboard needs from the start: the station, the image, the
  // version, every slot and the counts.
  JsonDocument slotsJson() const;
  // The Prometheus text of the metrics.
  std::string metricsText() const;

  struct Events {
    std::vector<std::string> lines;  // the events' JSON, oldest first
    std::uint64_t last = 0;          // the number of the last one
    bool lost = false;               // some after `after` are no longer kept
    bool ended = false;              // the hub is closed: nothing more comes
  };
  // The events after number `after`; waits up to `wait` when there is none.
  Events eventsAfter(std::uint64_t after, std::chrono::milliseconds wait) const;
  std::uint64_t lastEvent() const;
  // Ends every stream: they get what is left and then end.
  void close();

  void stationStarted(const StationStarted& event) override;
  void deviceAppeared(const DeviceAppeared& event) override;
  void runStarted(const RunStarted& event) override;
  void progressChanged(const DeviceProgress& event) override;
  void portBusyRetry(const PortBusyRetry& event) override;
  void runFinished(const RunFinished& event) override;
  void warning(const StationWarning& event) override;
  void refused(const StationRefused& event) override;
  void logUnavailable(const std::string& error) override;
  void passDone(const StationPass& event) override;
  void lineNotice(const LineNotice& notice) override;
  void stationFinished(const StationFinished& event) override;

 private:
  enum class State { Waiting, Flashing, Verified, Failed };
  struct Slot {
    std::string name, port, slot;
    State state = State::Waiting;
    DeviceProgress progress;
    std::string note;  // port busy, trying again
    std::string lastResult, lastResultAt;
    int verified = 0, failed = 0;
  };

  JsonDocument slotJson(std::size_t index) const;
  JsonDocument countsJson() const;
  // Under the lock: numbers the event and wakes the streams.
  void publish(JsonDocument event);
  Slot& slotAt(std::size_t index);
  void publishSlot(const char* type, std::size_t index);

  mutable std::mutex mutex_;
  mutable std::condition_variable news_;
  std::deque<std::string> events_;
  std::uint64_t lastEvent_ = 0;
  bool closed_ = false;

  JsonDocument station_;  // name, image, version
  std::vector<Slot> slots_;
  bool paused_ = false, draining_ = false, finished_ = false;
  std::string databaseBehind_;  // "database behind: REASON" while it is
  // {"url","records","lastError"} with --line, null without.
  JsonDocument line_ = nullptr;
  int exitCode_ = 0;
  // The metrics.
  int verified_ = 0, failed_ = 0;
  std::vector<std::uint64_t> secondsBuckets_;
  std::uint64_t runs_ = 0;
  double secondsSum_ = 0;
  std::uint64_t bytesWritten_ = 0;
};

}  // namespace voltrix::service

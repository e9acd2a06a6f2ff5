#pragma once
// The line's live view of its stations: the newest state each one posted
// (kept in memory only: a station posts it again within 10 s), whether it
// is away (not heard from for 30 s), a numbered stream of events for the
// event-stream clients, and the counters of the metrics. Readers take
// snapshots under a short lock; an event-stream writer waits on a
// condition variable for events newer than the last it sent.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "line/LineDb.h"
#include "record/JsonText.h"

namespace voltrix {

class StationBoard {
 public:
  using Clock = std::chrono::steady_clock;
  // The newest events are kept for a stream that fell behind, at most this
  // many and this many bytes (a state may be large): one that falls further
  // behind is closed, and the page reloads its state.
  static constexpr std::size_t kKeptEvents = 4096;
  static constexpr std::size_t kMostKeptBytes = 32 * 1024 * 1024;
  static constexpr auto kAwayAfter = std::chrono::seconds(30);
  // A name never heard of beyond this many is refused: a line has tens.
  static constexpr std::size_t kMostStations = 1000;

  // A state post. False with `error` when it names no station (or one too
  // many); otherwise kept as that station's newest and sent as a "station"
  // event.
  bool takeState(JsonDocument state, Clock::time_point now, std::string& error);
  // A records post the database took: a "runs" event when some were new.
  void recordsTaken(const std::string& station, std::size_t received, const LineInsertCount& count);
  void countPost(const char* route, int status);
  // A job made current: a "job" event with what POST /api/jobs answered.
  void jobPublished(const JsonDocument& job);
  // Sends a "station" event for each station that went away since the
  // last look (the event streams call it while they wait).
  void noteAway(Clock::time_point now);

  // {"event": N, "stations": [...]}: every station's newest state with
  // "away" and "heard_at", by name; N is the last event it includes.
  JsonDocument stationsJson(Clock::time_point now) const;
  std::string metricsText(Clock::time_point now, std::size_t eventStreams,
                          std::uint64_t databaseFailures) const;

  struct Events {
    std::string text;        // the events as an event stream writes them
    std::uint64_t last = 0;  // the number of the last one
    bool lost = false;       // some after `after` are no longer kept
    bool ended = false;      // closed: nothing more comes
  };
  Events eventsAfter(std::uint64_t after, std::chrono::milliseconds wait) const;
  std::uint64_t lastEvent() const;
  // Ends every stream: they get what is left, then end.
  void close();

 private:
  struct Station {
    JsonDocument state;
    Clock::time_point heard;
    std::chrono::system_clock::time_point heardAt;
    bool away = false;
  };
  struct Tally {
    std::uint64_t received = 0, added = 0, known = 0, notRecords = 0;
  };

  JsonDocument stationJson(const Station& station, Clock::time_point now) const;
  // Under the lock.
  void publish(const char* type, const JsonDocument& data);

  mutable std::mutex mutex_;
  mutable std::condition_variable news_;
  std::deque<std::string> events_;
  std::uint64_t lastEvent_ = 0;
  std::size_t keptBytes_ = 0;
  bool closed_ = false;
  std::map<std::string, Station> stations_;
  std::map<std::string, Tally> records_;                        // by station
  std::map<std::pair<std::string, int>, std::uint64_t> posts_;  // by route and status
};

}  // namespace voltrix

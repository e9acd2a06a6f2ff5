#pragma once
// The station's uplink to the line (voltrix-cli --line): a thread of its own
// that posts the log's records the line lacks, in batches, and the
// station's live state. It observes the station and never holds it up:
// the station's thread only notes what changed and wakes it. Records go up
// only once the log kept them; what the line has not taken waits in the
// log (see Outbox) for the next try, or the next start. What the station's
// front ends should show of it (unreachable, back, a refused token, a
// refused record) is told to `reporter` on the station's thread.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "record/JsonText.h"
#include "station/StationObserver.h"
#include "uplink/LineClient.h"
#include "uplink/Outbox.h"

namespace voltrix::uplink {

struct UplinkSettings {
  LineClientSettings line;
  std::string logPath;
  // The station's live state as its dashboard has it (StationHub::slotsJson).
  std::function<JsonDocument()> liveState;
  std::chrono::milliseconds firstRetry{500};  // after a failed post; doubles
  std::chrono::milliseconds longestRetry{30000};
  std::chrono::milliseconds statePeriod{250};  // the state at most this often
  std::chrono::milliseconds heartbeat{10000};  // and at least this often
};

class Uplink final : public StationObserver {
 public:
  static constexpr std::size_t kMostLinesPerPost = 1000;
  static constexpr std::size_t kMostBytesPerPost = 4u << 20;

  Uplink(UplinkSettings settings, StationObserver& reporter);
  ~Uplink() override;
  Uplink(const Uplink&) = delete;
  Uplink& operator=(const Uplink&) = delete;

  // After the station's end: sends what it can within `limit`, stops the
  // thread and tells the reporter how many records wait (Kind::Left, also
  // when none). Returns that number.
  std::uint64_t finish(std::chrono::milliseconds limit);

  void stationStarted(const StationStarted&) override { changed(); }
  void deviceAppeared(const DeviceAppeared&) override { changed(); }
  void runStarted(const RunStarted&) override { changed(); }
  void progressChanged(const DeviceProgress&) override { changed(); }
  void portBusyRetry(const PortBusyRetry&) override { changed(); }
  void runFinished(const RunFinished& event) override;
  void passDone(const StationPass& event) override;
  void stationFinished(const StationFinished&) override;
  // A job taken or restored: the state names its image from then on.
  void jobNotice(const StationJobNotice& notice) override;

 private:
  using Clock = std::chrono::steady_clock;
  enum class Round { Drained, Sent, Failed };

  void changed();
  void work();
  Round sendRecords();
  void postState();
  // Under the mutex: a notice for the reporter; Progress ones replace the
  // one not yet told.
  void queueNotice(LineNotice::Kind kind, std::string refused = {});
  void updateWaiting();
  void tellNotices();

  const UplinkSettings settings_;
  StationObserver& reporter_;
  LineClient client_;  // the thread's only
  Outbox outbox_;      // the thread's only, until it ended
  std::size_t batchLimit_ = kMostLinesPerPost;
  bool toldToken_ = false;
  // How far the log is known to hold synced records: at the start all of
  // it, then up to where it stood after each record it kept.
  std::atomic<std::uint64_t> readableTo_{0};
  std::atomic<std::int64_t> changedAt_{0};  // µs since the epoch
  std::atomic<bool> stateDirty_{true};
  bool lastPaused_ = false, lastDraining_ = false;

  std::mutex mutex_;
  std::condition_variable wake_;
  bool recordsDue_ = true;  // the log may hold records to send
  bool stop_ = false;
  bool finishing_ = false;
  Clock::time_point finishBy_{};
  bool unreachable_ = false;
  bool tokenRefused_ = false;  // the last post's answer was 401/403
  // The last post was one record the line refused as bad (400): offered
  // again seldom, told once per record.
  bool recordRefused_ = false;
  std::string toldRefused_;
  std::uint64_t waitingRecords_ = 0;
  Outbox::Waiting waiting_;
  std::string lastError_;
  // The image of the job in use, once one was taken: {"name","sha256"}.
  JsonDocument jobImage_;
  std::deque<LineNotice> notices_;
  std::mutex tellMutex_;  // one teller at a time: the station's thread, or finish()
  std::thread thread_;    // last: it starts once everything above exists
};

}  // namespace voltrix::uplink

#pragma once
// A station: several devices flashed side by side from one image, or every
// device that appears while the station watches, each in a run of its own.
// It tells an observer what happens and prints nothing. One thread runs it;
// any other may pause, drain, stop or cancel it meanwhile, and none of these
// but a cancel ever cuts a device's run short.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "control/DeviceMap.h"
#include "control/DeviceMapWatch.h"
#include "record/AttemptLog.h"
#include "record/ResultsStore.h"
#include "station/StationDevice.h"
#include "station/StationObserver.h"
#include "station/StationPlan.h"

namespace voltrix {

class Station {
 public:
  Station(StationPlan plan, StationObserver& observer);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Runs the station to its end and returns its exit code: the worst of
  // its devices', or that of what refused it. Call it once.
  int run();

  // From any thread, at any time, also before run(). A port found busy
  // right after its device appeared is still tried again after a pause or
  // a drain: the tries are one attempt of a device already started.
  // No new device's run starts until resume(); the running ones go on.
  void pause();
  void resume();
  // The running devices finish, no new one starts, then the station ends.
  void drain();
  // Drains, and from another thread than the station's, returns once the
  // station has ended (at once when it is not running).
  void stop();
  // Cancels every running device at the next block boundary, as Ctrl+C does.
  void cancel();
  // From any thread: a control request that goes into the results database
  // with the station's records (nowhere without one). Given before the
  // request takes effect, it is in before the station's end.
  void auditControl(ControlAuditEntry entry);

 private:
  using Clock = std::chrono::steady_clock;

  // One device of the station, across the tries a busy port may take.
  struct Slot {
    std::size_t index = 0;
    DeviceTarget target;
    // Taken from the current image as the device appeared: every try of
    // its attempt writes it, and its record names it.
    std::shared_ptr<const StationImage> image;
    std::unique_ptr<StationDevice> run;
    Clock::time_point appeared;
    DeviceNodeIdentity identity;  // of the node when it appeared
    // Seen away since it appeared (unplugged, or its run found the port
    // gone): whatever comes next under its name is a new device.
    bool gone = false;
    bool settled = false;  // its end was told and recorded
    std::optional<Clock::time_point> retryAt;
    int attempts = 0;
    bool done() const { return run->finished() && settled && !retryAt; }
  };

  int runToEnd();
  int refuse(Refusal refusal, const std::string& hint);
  bool prepare(std::vector<DeviceTarget>& fixed, int& exitCode);
  // Whether the station takes more devices at all, and whether it may start
  // one now.
  bool acceptsMore() const;
  bool startsNow() const { return acceptsMore() && !paused_ && !quotaReached(); }
  // The job's quota leaves no verified device to the next one: as many
  // remain as are running.
  bool quotaReached() const;
  std::shared_ptr<const StationImage> imageForNextDevice();
  void add(const DeviceTarget& target);
  void startAttempt(Slot& slot);
  void rescan();
  void takeNews();
  void settle(Slot& slot);
  void endAsCancelled(Slot& slot);
  DeviceProgress progressOf(const Slot& slot) const;
  bool allDone() const;
  void cancelAll();
  int finish();
  void setRunning(bool running);
  void tellResultsNotices();
  void passControlsOn();

  StationPlan plan_;
  StationObserver& observer_;
  std::shared_ptr<CurrentImage> current_;
  // The current image as last read, and made to use the plan's run folders.
  std::shared_ptr<const StationImage> imageSource_, image_;
  AttemptLog log_;
  std::unique_ptr<ResultsFeed> results_;
  LabelUse labelUse_;
  Doorbell doorbell_;
  std::deque<DeviceTarget> pending_;  // given devices not started yet (paused)
  std::vector<std::unique_ptr<Slot>> slots_;
  // The ports flashed while watching; one leaves once it has been unplugged
  // and its run is over, however short the gap before it came back.
  std::map<std::string, Slot*> watched_;
  std::unique_ptr<DeviceMapWatch> watch_;
  std::unique_ptr<DeviceMap> deviceMap_;
  Clock::time_point lastScan_{};
  bool cancelled_ = false;

  // What other threads ask for.
  std::atomic<bool> paused_{false};
  std::atomic<bool> draining_{false};
  std::atomic<bool> cancelAsked_{false};
  std::mutex controlsMutex_;
  std::vector<ControlAuditEntry> controls_;  // for the results feed
  std::mutex runningMutex_;
  std::condition_variable ended_;
  bool running_ = false;
  std::thread::id runner_;
};

}  // namespace voltrix

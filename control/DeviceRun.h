#pragma once
// One device's run from DOWNLOAD to its summary: where the port comes from,
// the busy test, the image put into a private run folder, the worker on a
// thread of its own, the worker's messages taken in on the front end's
// thread, and the outcome (exit code from the failure kind, what was
// verified, how long it took, what to do about a failure). The dialogs, the
// command line and every device of a station run a device through it, and
// only show what it says.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "control/DeviceMap.h"
#include "control/RunProgress.h"
#include "control/RunSummary.h"
#include "control/StatusDisplay.h"
#include "control/WorkerLauncher.h"
#include "engine/DownloadState.h"
#include "engine/LinkPhases.h"
#include "engine/Refusal.h"
#include "engine/RunFailure.h"
#include "engine/SystemTexts.h"
#include "engine/WorkerMessages.h"
#include "link/ProtocolConstants.h"
#include "link/ProtocolTrace.h"

namespace voltrix {

class DeviceRun;
class SerialLinkPhases;
class ThreadWorkerLauncher;

// Where a run finds its device.
struct RunPort {
  // The device map's "\Device\VCP0" names the COM number, which the
  // system's numbering turns into a device node. The map is read at start.
  static RunPort fromDeviceMap(const DeviceMap& map) {
    RunPort port;
    port.deviceMap = &map;
    return port;
  }
  // The device node `path`, opened under COM number `comNumber` (1 for 0).
  // An empty path leaves the number to the system's numbering.
  static RunPort node(std::string path, std::uint32_t comNumber = 0) {
    RunPort port;
    port.path = std::move(path);
    port.comNumber = comNumber;
    return port;
  }

  const DeviceMap* deviceMap = nullptr;
  std::string path;
  std::uint32_t comNumber = 0;
};

// When a run began: for its seconds, and for the log.
struct RunTimes {
  std::chrono::steady_clock::time_point started;
  std::chrono::system_clock::time_point startedAt;
  static RunTimes now() {
    return {std::chrono::steady_clock::now(), std::chrono::system_clock::now()};
  }
};

struct RunRequest {
  RunPort port;
  // The image the run writes; hints about it name this path.
  std::string imagePath = texts::kImageFileName;
  // The folder in which the run's private folder is made; the front ends
  // keep the working directory.
  std::string runFolderParent = ".";
  // When given, puts an image already read and checked into a run folder
  // made in the parent folder it is passed, instead of copying imagePath
  // (a station reads its image once for all its devices). On a refusal it
  // leaves nothing on disk.
  std::function<Refusal(DownloadState& state, const std::string& runFolderParent)> provideImage;
  // The run counts from here (an attempt that takes over from an earlier
  // one counts from that one's start); from the call when empty.
  std::optional<RunTimes> since;
};

// What a DeviceRun works with; every part has a default.
struct DeviceRunParts {
  // The link the worker drives. When null, every run gets the serial link
  // to its own port, with these timings and this trace.
  std::shared_ptr<LinkPhases> link;
  LinkTimings timings;
  std::shared_ptr<ProtocolTrace> trace;
  // Starts the worker; it must outlive the state's use by the worker. When
  // null, the run starts a thread of its own and joins it when it goes.
  WorkerLauncher* launcher = nullptr;
  // Where the worker posts when the front end takes the messages itself
  // (a dialog's window). When null, they wait in the run's own inbox for
  // pump().
  std::shared_ptr<MessageSink> sink;
  // With the run's own inbox: called on the worker's thread after every
  // message and once more when the worker has ended, so that a front end
  // can sleep until some run has news. Must not wait.
  std::function<void()> onNews;
  // On the thread that pumps, after each message has been taken in.
  std::function<void(const DeviceRun& run, const WorkerMessage& message)> onMessage;
};

class DeviceRun {
 public:
  using Parts = DeviceRunParts;

  // `state` is the run's, shared with the worker; it must outlive the run.
  explicit DeviceRun(DownloadState& state, Parts parts = {});
  // A run still under way is asked to stop; a thread of the run's own is
  // waited for (every wait of a run is bounded, so that wait is short).
  ~DeviceRun();
  DeviceRun(const DeviceRun&) = delete;
  DeviceRun& operator=(const DeviceRun&) = delete;

  // Finds the port, claims the state, prepares the image and starts the
  // worker. Refusal::None when the worker is on its way. Otherwise nothing
  // was sent, no run folder is left, and the run is finished with the
  // refusal as its outcome, unless a run of this owner is still under way:
  // that one keeps its own.
  Refusal start(const RunRequest& request);
  // Asks the run to stop at the next point where it safely can.
  void cancel() { state_.cancelRequested = true; }

  // With the run's own inbox: returns once there is news (a message, the
  // worker's end) or after `limit`.
  void waitForNews(std::chrono::milliseconds limit);
  // Takes in the worker's messages in posting order, with `now` as the
  // calendar time, and finishes the run once the worker has ended. True
  // when anything changed.
  bool pump(std::time_t now);

  // Ends a run that did not get to its worker as a failed one, with the
  // failure on its status line: a station device's run that found no room
  // for its folder, or a retry the operator cancelled between attempts.
  void endWithoutRun(RunFailure failure);
  // A finished run that will be tried again leaves no run folder behind,
  // and says nothing more about one.
  void dropRunFolder();

  bool finished() const { return finished_; }
  // Whether a worker of this run has not ended yet.
  bool underway() const { return workerEnded_ && !workerEnded_->load(); }

  // The port number the device map gave at the last start, and its value.
  int registryPort() const { return registryPort_; }
  const std::string& registryValue() const { return registryValue_; }
  // The device node the run used or would have used; empty when none.
  std::string portNode() const;

  const std::string& statusText() const { return display_.statusText(); }
  const StatusDisplay& display() const { return display_; }
  // Over the whole image, written and read back.
  const RunProgress& progress() const { return progress_; }
  const VerifiedSegments& verified() const { return verified_; }
  // The first failure the run reported; None for a refused run.
  RunFailure failure() const { return failure_; }
  Refusal refusal() const { return refusal_; }
  // Once finished: the port would not open because something held it.
  bool portWasBusy() const { return portWasBusy_; }
  // Once finished: what to do, one line each: the device map's value and
  // the port's trouble for a port that would not open, what is wrong with a
  // refused image, and last where a failed run kept its segment files.
  const std::string& hints() const { return hints_; }
  // Once finished: how it ended. The front end adds what it knows of the
  // device (port, slot, label) and whether the log kept the record.
  RunSummary& summary() { return summary_; }
  const RunSummary& summary() const { return summary_; }
  const RunTimes& times() const { return times_; }
  std::chrono::system_clock::time_point endedAt() const { return endedAt_; }

 private:
  class Inbox;

  void beginOutcome(const RunTimes& since);
  Refusal refuse(Refusal refusal, const RunRequest& request, const RunTimes& since);
  std::shared_ptr<LinkPhases> linkFor(const RunPort& port);
  void take(const WorkerMessage& message, std::time_t now);
  void finish(int exitCode);
  // The run is over: when, how long it took, the status line it ended on.
  void markEnded();
  void addHintLine(const std::string& line, bool inSummary);

  DownloadState& state_;
  Parts parts_;
  int registryPort_ = 0;
  std::string registryValue_;
  bool portFromMap_ = false;
  std::string portPath_;
  std::uint32_t portNumber_ = 0;

  StatusDisplay display_;
  RunProgress progress_;
  VerifiedSegments verified_;
  RunFailure failure_ = RunFailure::None;
  Refusal refusal_ = Refusal::None;
  bool portWasBusy_ = false;
  bool finished_ = false;
  std::string hints_;
  RunSummary summary_;
  RunTimes times_;
  std::chrono::system_clock::time_point endedAt_;

  // Of the run under way: what the worker shares with us.
  std::shared_ptr<SerialLinkPhases> serialLink_;
  std::shared_ptr<Inbox> inbox_;
  std::shared_ptr<std::atomic<bool>> workerEnded_;
  // Last: it joins the worker before anything the worker uses goes away.
  std::unique_ptr<ThreadWorkerLauncher> ownLauncher_;
  WorkerLauncher* launcher_;
};

}  // namespace voltrix

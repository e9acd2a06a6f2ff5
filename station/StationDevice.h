#pragma once
// One device of a station run: its own state, worker, link, message queue
// and run folder, so that nothing one device does can stop or slow another.
// The worker's messages ring a doorbell the station shares, so the station's
// one front-end thread sleeps until some device has news.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>

#include "control/StatusDisplay.h"
#include "control/ThreadWorkerLauncher.h"
#include "control/RunProgress.h"
#include "control/RunSummary.h"
#include "station/StationImage.h"
#include "engine/MessageQueue.h"
#include "engine/RunFailure.h"
#include "link/ProtocolConstants.h"
#include "link/SerialLinkPhases.h"

namespace voltrix {

class Doorbell {
 public:
  void ring();
  // Returns once rung since the last wait, or after `limit`.
  void wait(std::chrono::milliseconds limit);

 private:
  std::mutex mutex_;
  std::condition_variable rung_;
  bool pending_ = false;
};

// Where a device is and what the operator calls it.
struct DeviceTarget {
  std::string port;         // the device node
  std::string slot;         // the USB physical path; empty when unknown
  std::string name;         // what the lines and the table show
  std::uint32_t comNumber;  // the COM number the device map gave, 0 for --port
};

class StationDevice {
 public:
  // `trace`, when given, sees every byte of the device's runs.
  StationDevice(DeviceTarget target, std::shared_ptr<const StationImage> image, LinkTimings timings,
                Doorbell& doorbell, std::shared_ptr<ProtocolTrace> trace = nullptr);
  ~StationDevice();
  StationDevice(const StationDevice&) = delete;
  StationDevice& operator=(const StationDevice&) = delete;

  // Starts the run; when it cannot start, the device is finished at once.
  // A run that takes over from an earlier attempt on the same device (a
  // busy port tried again) counts from that attempt's start: it is one
  // attempt for the table and the log.
  void start(const StationDevice* earlier = nullptr);
  void cancel() { state_.cancelRequested = true; }
  // A finished attempt that will be tried again leaves no run folder behind.
  void dropRunFolder();
  // A finished attempt whose retry the operator cancelled ends as cancelled.
  void endAsCancelled();
  // What the line shows instead of the status text while the device waits
  // for its port to be tried again; empty otherwise.
  void setWaitingNote(std::string note) { waitingNote_ = std::move(note); }
  const std::string& waitingNote() const { return waitingNote_; }
  // Takes the worker's messages; true when the device's line changed.
  bool pump(std::time_t now);
  bool finished() const { return finished_; }

  const DeviceTarget& target() const { return target_; }
  const std::string& statusText() const { return display_.statusText(); }
  // Over the whole image, written and read back.
  int progress() const { return progress_.percent(); }
  int segmentNow() const { return progress_.segment(); }
  int segmentCount() const { return image_->segmentCount; }
  std::uint64_t bytesVerified() const { return verified_.bytes(); }
  // Once finished: how it ended, and the lines that say what to do.
  const RunSummary& summary() const { return summary_; }
  // Whether the log kept the attempt's record (see noteLogRecordLost).
  void noteLogRecord(bool kept) {
    summary_.logRecordKept = kept;
    if (!kept) noteLogRecordLost(summary_);
  }
  RunFailure failure() const { return failure_; }
  bool portWasBusy() const { return portBusy_; }
  const std::string& hints() const { return hints_; }
  std::chrono::system_clock::time_point startedAt() const { return startedAt_; }
  std::chrono::system_clock::time_point endedAt() const { return endedAt_; }

 private:
  // Rings the station's doorbell with every message it takes.
  class RingingQueue final : public MessageSink {
   public:
    explicit RingingQueue(Doorbell& doorbell) : doorbell_(doorbell) {}
    void post(const WorkerMessage& message) noexcept override;
    MessageQueue queue;

   private:
    Doorbell& doorbell_;
  };

  void handle(const WorkerMessage& message, std::time_t now);
  void finish(int exitCode);

  DeviceTarget target_;
  std::shared_ptr<const StationImage> image_;
  DownloadState state_;
  SerialLinkPhases link_;
  RingingQueue sink_;
  StatusDisplay display_;
  VerifiedSegments verified_;
  RunProgress progress_;
  std::string waitingNote_;
  RunFailure failure_ = RunFailure::None;
  RunSummary summary_;
  std::string hints_;
  bool portBusy_ = false;
  bool finished_ = false;
  std::chrono::steady_clock::time_point started_;
  std::chrono::system_clock::time_point startedAt_;
  std::chrono::system_clock::time_point endedAt_;
  // Last: it joins the worker before anything the worker uses goes away.
  ThreadWorkerLauncher launcher_;
};

}  // namespace voltrix

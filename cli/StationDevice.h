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

#include "app/StatusDisplay.h"
#include "app/ThreadWorkerLauncher.h"
#include "cli/RunSummary.h"
#include "cli/StationImage.h"
#include "engine/MessageQueue.h"
#include "engine/RunFailure.h"
#include "serial/ProtocolConstants.h"
#include "serial/SerialLinkPhases.h"

namespace voltrix::cli {

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
  StationDevice(DeviceTarget target, std::shared_ptr<const StationImage> image, LinkTimings timings,
                Doorbell& doorbell);
  ~StationDevice();
  StationDevice(const StationDevice&) = delete;
  StationDevice& operator=(const StationDevice&) = delete;

  // Starts the run; when it cannot start, the device is finished at once.
  void start();
  void cancel() { state_.cancelRequested = true; }
  // Takes the worker's messages; true when the device's line changed.
  bool pump(std::time_t now);
  bool finished() const { return finished_; }

  const DeviceTarget& target() const { return target_; }
  const std::string& statusText() const { return display_.statusText(); }
  int progress() const { return display_.progressPosition(); }
  int segmentNow() const { return state_.cursor; }
  int segmentCount() const { return image_->segmentCount; }
  std::uint64_t bytesVerified() const { return verified_.bytes(); }
  // Once finished: how it ended, and the lines that say what to do.
  const RunSummary& summary() const { return summary_; }
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

}  // namespace voltrix::cli

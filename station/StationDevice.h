#pragma once
// One device of a station run: its own state and its own DeviceRun (worker,
// link, messages, run folder), so that nothing one device does can stop or
// slow another. The worker's messages ring a doorbell the station shares, so
// the station's one front-end thread sleeps until some device has news.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>

#include "control/DeviceRun.h"
#include "control/RunSummary.h"
#include "engine/DownloadState.h"
#include "engine/RunFailure.h"
#include "link/ProtocolConstants.h"
#include "link/ProtocolTrace.h"
#include "station/StationImage.h"

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
  void cancel() { run_.cancel(); }
  // A finished attempt that will be tried again leaves no run folder behind.
  void dropRunFolder();
  // A finished attempt whose retry the operator cancelled ends as cancelled.
  void endAsCancelled();
  // Takes the worker's messages; true when the device's line changed.
  bool pump(std::time_t now) { return run_.pump(now); }
  bool finished() const { return run_.finished(); }

  const DeviceTarget& target() const { return target_; }
  const std::string& statusText() const { return run_.statusText(); }
  // Over the whole image, written and read back.
  int progress() const { return run_.progress().percent(); }
  int segmentNow() const { return run_.progress().segment(); }
  int segmentCount() const { return image_->segmentCount; }
  std::uint64_t bytesVerified() const { return run_.verified().bytes(); }
  // Once finished: how it ended, and the lines that say what to do.
  const RunSummary& summary() const { return run_.summary(); }
  // Whether the log kept the attempt's record (see noteLogRecordLost).
  void noteLogRecord(bool kept) {
    run_.summary().logRecordKept = kept;
    if (!kept) noteLogRecordLost(run_.summary());
  }
  RunFailure failure() const { return run_.failure(); }
  bool portWasBusy() const { return run_.portWasBusy(); }
  const std::string& hints() const { return run_.hints(); }
  std::chrono::system_clock::time_point startedAt() const { return run_.times().startedAt; }
  std::chrono::system_clock::time_point endedAt() const { return run_.endedAt(); }

 private:
  DeviceTarget target_;
  std::shared_ptr<const StationImage> image_;
  DownloadState state_;
  // After the state it works on: it goes, and joins its worker, first.
  DeviceRun run_;
};

}  // namespace voltrix

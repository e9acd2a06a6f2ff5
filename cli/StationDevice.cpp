#include "cli/StationDevice.h"

#include "cli/ExitCodes.h"
#include "cli/Hints.h"
#include "cli/RunPieces.h"
#include "engine/DownloadWorker.h"
#include "engine/Refusal.h"
#include "engine/RunPreparation.h"
#include "serial/ComResolver.h"

namespace voltrix::cli {

void Doorbell::ring() {
  {
    const std::lock_guard lock(mutex_);
    pending_ = true;
  }
  rung_.notify_one();
}

void Doorbell::wait(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  rung_.wait_for(lock, limit, [this] { return pending_; });
  pending_ = false;
}

void StationDevice::RingingQueue::post(const WorkerMessage& message) noexcept {
  queue.post(message);
  doorbell_.ring();
}

namespace {

std::shared_ptr<const ComResolver> resolverFor(const DeviceTarget& target) {
  // A map value that names no node goes through the system's numbering, so
  // the failure says why the number stands for nothing.
  return target.port.empty() ? systemComResolver() : fixedDeviceResolver(target.port);
}

}  // namespace

StationDevice::StationDevice(DeviceTarget target, std::shared_ptr<const StationImage> image,
                             LinkTimings timings, Doorbell& doorbell)
    : target_(std::move(target)),
      image_(std::move(image)),
      link_(resolverFor(target_), timings),
      sink_(doorbell) {
  state_.setDefaults();
  summary_.port = target_.port;
  summary_.segmentsInImage = image_->segmentCount;
}

StationDevice::~StationDevice() {
  // Every wait of a run is bounded and checks this flag: the join is short.
  state_.cancelRequested = true;
}

void StationDevice::start() {
  started_ = std::chrono::steady_clock::now();
  startedAt_ = std::chrono::system_clock::now();
  if (!provisionRun(*image_, state_)) {
    failure_ = RunFailure::FileOpening;
    display_.apply(failureMessage(failure_), state_, std::time(nullptr));
    finish(kExitFileError);
    return;
  }
  state_.comPort = static_cast<std::int32_t>(target_.comNumber != 0 ? target_.comNumber : 1);
  state_.cancelRequested = false;
  state_.busy = BusyState::Downloading;
  DownloadState& state = state_;
  MessageSink& sink = sink_;
  LinkPhases& link = link_;
  if (!launcher_.launch([&state, &sink, &link] { DownloadWorker(state, sink, link); })) {
    discardRunFolder(state_);
    state_.busy = BusyState::Idle;
    summary_.failure = refusalText(Refusal::WorkerNotStarted);
    finish(kExitInternal);
  }
}

void StationDevice::handle(const WorkerMessage& message, std::time_t now) {
  display_.apply(message, state_, now);
  verified_.see(message);
  if (failure_ == RunFailure::None) failure_ = message.failure;
}

bool StationDevice::pump(std::time_t now) {
  if (finished_) return false;
  bool changed = false;
  while (const auto message = sink_.queue.tryNext()) {
    handle(*message, now);
    changed = true;
  }
  if (!launcher_.running()) {
    // The worker is gone: take what it posted last, then end.
    for (const WorkerMessage& late : sink_.queue.drain()) handle(late, now);
    launcher_.joinAll();
    finish(exitCodeOfRun(failure_, state_));
    changed = true;
  }
  return changed;
}

void StationDevice::finish(int exitCode) {
  finished_ = true;
  endedAt_ = std::chrono::system_clock::now();
  summarizeRun(summary_, exitCode, failure_, verified_);
  summary_.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  summary_.status = display_.statusText();
  if (failure_ == RunFailure::PortOpen) {
    portBusy_ = link_.openFailures().failure() == OpenFailure::PortBusy;
    hints_ = hintForPort(link_.openFailures());
  }
  if (failure_ != RunFailure::None) {
    const std::string kept = describeKeptFiles(state_);
    if (!kept.empty()) hints_ += (hints_.empty() ? "" : "\n") + kept;
  }
}

}  // namespace voltrix::cli

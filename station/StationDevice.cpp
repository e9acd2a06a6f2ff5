#include "station/StationDevice.h"

#include "control/ExitCodes.h"
#include "control/FailureKind.h"
#include "control/Hints.h"
#include "control/RunPieces.h"
#include "engine/DownloadWorker.h"
#include "engine/Refusal.h"
#include "engine/RunPreparation.h"
#include "engine/SystemTexts.h"
#include "port/ComResolver.h"

namespace voltrix {

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
                             LinkTimings timings, Doorbell& doorbell,
                             std::shared_ptr<ProtocolTrace> trace)
    : target_(std::move(target)),
      image_(std::move(image)),
      link_(resolverFor(target_), timings),
      sink_(doorbell) {
  state_.setDefaults();
  // An error shown before the worker names the image (a run folder that
  // cannot be made, a cancel before the start) still names it.
  state_.imageName = texts::kImageFileName;
  if (trace) link_.setTrace(std::move(trace));
  summary_.port = target_.port;
  summary_.segmentsInImage = image_->segmentCount;
  summary_.inStation = true;
  summary_.slot = target_.slot;
  // The name is the operator's label unless it is the slot or port itself.
  if (target_.name != target_.slot && target_.name != target_.port) summary_.label = target_.name;
}

StationDevice::~StationDevice() {
  // Every wait of a run is bounded and checks this flag: the join is short.
  state_.cancelRequested = true;
}

void StationDevice::start(const StationDevice* earlier) {
  started_ = earlier != nullptr ? earlier->started_ : std::chrono::steady_clock::now();
  startedAt_ = earlier != nullptr ? earlier->startedAt_ : std::chrono::system_clock::now();
  if (!provisionRun(*image_, state_, ".")) {
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
    const FailureKind kind = failureKindOf(Refusal::WorkerNotStarted);
    summary_.failureKind = kind.id;
    summary_.failureEnglish = kind.english;
    finish(kExitInternal);
  }
}

void StationDevice::dropRunFolder() {
  discardRunFolder(state_);
  summary_.runFolder.clear();
  hints_.clear();
}

void StationDevice::endAsCancelled() {
  waitingNote_.clear();
  failure_ = RunFailure::Cancelled;
  display_.apply(failureMessage(failure_), state_, std::time(nullptr));
  summary_.hint.clear();
  finish(kExitCancelled);
  // The cancel came between attempts, in no segment.
  summary_.failedSegment = 0;
  summary_.failedAddress = 0;
}

void StationDevice::handle(const WorkerMessage& message, std::time_t now) {
  display_.apply(message, state_, now);
  progress_.see(message, state_);
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
  summarizeRun(summary_, exitCode, failure_, verified_, state_, link_.openFailures().failure());
  summary_.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  summary_.status = display_.statusText();
  portBusy_ = false;
  if (failure_ == RunFailure::PortOpen) {
    portBusy_ = link_.openFailures().failure() == OpenFailure::PortBusy;
    hints_ = hintForPort(link_.openFailures());
    addHint(summary_, hints_);
  }
  if (failure_ != RunFailure::None) {
    const std::string kept = describeKeptFiles(state_);
    if (!kept.empty()) hints_ += (hints_.empty() ? "" : "\n") + kept;
  }
}

}  // namespace voltrix

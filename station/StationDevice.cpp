#include "station/StationDevice.h"

#include "engine/SystemTexts.h"

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

namespace {

DeviceRun::Parts partsFor(LinkTimings timings, Doorbell& doorbell,
                          std::shared_ptr<ProtocolTrace> trace) {
  DeviceRun::Parts parts;
  parts.timings = timings;
  parts.trace = std::move(trace);
  parts.onNews = [&doorbell] { doorbell.ring(); };
  return parts;
}

}  // namespace

StationDevice::StationDevice(DeviceTarget target, std::shared_ptr<const StationImage> image,
                             LinkTimings timings, Doorbell& doorbell,
                             std::shared_ptr<ProtocolTrace> trace)
    : target_(std::move(target)),
      image_(std::move(image)),
      run_(state_, partsFor(timings, doorbell, std::move(trace))) {
  state_.setDefaults();
  // An error shown before the worker names the image (a run folder that
  // cannot be made, a cancel before the start) still names it.
  state_.imageName = texts::kImageFileName;
  RunSummary& summary = run_.summary();
  summary.port = target_.port;
  summary.segmentsInImage = image_->segmentCount;
  summary.inStation = true;
  summary.slot = target_.slot;
  // The name is the operator's label unless it is the slot or port itself.
  if (target_.name != target_.slot && target_.name != target_.port) summary.label = target_.name;
}

StationDevice::~StationDevice() = default;

void StationDevice::start(const StationDevice* earlier) {
  RunRequest request;
  request.port = RunPort::node(target_.port, target_.comNumber);
  request.runFolderParent = image_->runFolders;
  // Every device's run gets its own copy of the one image read for all.
  request.provideImage = [image = image_](DownloadState& state, const std::string& parent) {
    return provisionRun(*image, state, parent) ? Refusal::None : Refusal::NoRunFolder;
  };
  request.since = earlier != nullptr ? earlier->run_.times() : RunTimes::now();
  const Refusal refusal = run_.start(request);
  if (refusal == Refusal::NoRunFolder) {
    // No room for the run's files: the device's line says so.
    run_.endWithoutRun(RunFailure::FileOpening);
  } else if (refusal != Refusal::None) {
    // A device whose run cannot start is a failed attempt of the station.
    run_.summary().result = RunSummary::Result::Failed;
  }
}

void StationDevice::dropRunFolder() {
  run_.dropRunFolder();
}

void StationDevice::endAsCancelled() {
  run_.endWithoutRun(RunFailure::Cancelled);
}

}  // namespace voltrix

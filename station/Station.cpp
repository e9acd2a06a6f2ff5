#include "station/Station.h"

#include <ctime>

#include "control/ExitCodes.h"
#include "control/RunPieces.h"
#include "platform/ProcessSignals.h"
#include "station/StationExitCode.h"

namespace voltrix {

namespace {

using Clock = std::chrono::steady_clock;

// How long a port that another program holds right after it appeared is
// tried again (ModemManager probes a new USB modem for a few seconds), and
// how often.
constexpr auto kBusyRetryWindow = std::chrono::seconds(8);
constexpr auto kBusyRetryPause = std::chrono::seconds(1);
// The map is read again at least this often while watching, in case a
// change went unnoticed; never more often unless the watch says it changed.
constexpr auto kRescanPeriod = std::chrono::seconds(1);
// The station wakes at least this often to notice a request to end and to
// let its observer draw.
constexpr auto kTick = std::chrono::milliseconds(200);
// At its end the station waits this long at most for the results database
// to take the last records; what it has not taken by then is caught up
// from the log at the next start.
constexpr auto kResultsFinishLimit = std::chrono::seconds(3);

}  // namespace

Station::Station(StationPlan plan, StationObserver& observer)
    : plan_(std::move(plan)), observer_(observer), labelUse_(plan_.labels) {}

Station::~Station() = default;

void Station::pause() {
  paused_ = true;
  doorbell_.ring();
}

void Station::resume() {
  paused_ = false;
  doorbell_.ring();
}

void Station::drain() {
  draining_ = true;
  doorbell_.ring();
}

void Station::auditControl(ControlAuditEntry entry) {
  if (!plan_.resultsDb) return;
  const std::lock_guard lock(controlsMutex_);
  controls_.push_back(std::move(entry));
}

// On the station's thread: the feed exists from the start of the run.
void Station::passControlsOn() {
  if (!results_) return;
  std::vector<ControlAuditEntry> controls;
  {
    const std::lock_guard lock(controlsMutex_);
    controls.swap(controls_);
  }
  for (ControlAuditEntry& entry : controls) results_->submitControl(std::move(entry));
}

void Station::stop() {
  drain();
  std::unique_lock lock(runningMutex_);
  // Waiting on its own thread (from inside an event) would never end.
  if (runner_ == std::this_thread::get_id()) return;
  ended_.wait(lock, [this] { return !running_; });
}

void Station::cancel() {
  cancelAsked_ = true;
  doorbell_.ring();
}

void Station::setRunning(bool running) {
  {
    const std::lock_guard lock(runningMutex_);
    running_ = running;
    runner_ = running ? std::this_thread::get_id() : std::thread::id();
  }
  ended_.notify_all();
}

int Station::run() {
  setRunning(true);
  const int exitCode = runToEnd();
  setRunning(false);
  return exitCode;
}

bool Station::acceptsMore() const {
  return !cancelled_ && !draining_ &&
         (!plan_.count || static_cast<int>(slots_.size()) < *plan_.count);
}

int Station::refuse(Refusal refusal, const std::string& hint) {
  StationRefused refused{refusal, hint, {}};
  summarizeRefusal(refused.summary, refusal);
  addHint(refused.summary, hint);
  observer_.refused(refused);
  StationFinished finished;
  finished.exitCode = refused.summary.exitCode;
  observer_.stationFinished(finished);
  return finished.exitCode;
}

// What comes before any device is touched: the device map (read before the
// image, as DOWNLOAD does), the labels, the image, the log. False with the
// exit code when the station cannot start.
bool Station::prepare(std::vector<DeviceTarget>& fixed, int& exitCode) {
  fixed = plan_.targets;
  if (plan_.allOfDeviceMap) {
    MapTargets listed = targetsOfMap(*systemDeviceMap(), plan_.labels);
    if (listed.refusal != Refusal::None) {
      exitCode = refuse(listed.refusal, {});
      return false;
    }
    fixed.insert(fixed.end(), listed.targets.begin(), listed.targets.end());
  }
  if (!plan_.watch) {
    // A label that names none of a fixed set of devices is worth a word at
    // once; while watching, the devices are all known only at the end.
    LabelUse labels(plan_.labels);
    for (const DeviceTarget& target : fixed) labels.see(target);
    const auto among =
        plan_.allOfDeviceMap ? StationWarning::Among::DeviceMap : StationWarning::Among::GivenPorts;
    for (const std::string& label : labels.unmatched()) {
      observer_.warning({StationWarning::Kind::LabelMatchedNoDevice, among, label});
    }
  }
  current_ = plan_.currentImage ? plan_.currentImage : std::make_shared<CurrentImage>();
  image_ = current_->image();
  if (!image_) image_ = plan_.image;
  if (!image_) {
    StationImageLoad load = loadStationImage(plan_.imagePath, plan_.runFolders);
    if (load.refusal != Refusal::None) {
      exitCode = refuse(load.refusal, load.hint);
      return false;
    }
    image_ = std::move(load.image);
  } else {
    image_ = imageWithRunFolders(image_, plan_.runFolders);
  }
  if (!current_->image()) current_->setImage(image_);
  imageSource_ = current_->image();
  if (std::string error; !log_.open(plan_.logFile, plan_.stationName, error)) {
    observer_.logUnavailable(error);
    StationFinished finished;
    finished.exitCode = exitCode = kExitFileError;
    observer_.stationFinished(finished);
    return false;
  }
  log_.setImage(image_->path, image_->sha256);
  observer_.stationStarted({log_.station(), image_->path, image_->sha256});
  if (plan_.resultsDb && plan_.logFile)
    results_ = startResultsFeed(*plan_.resultsDb, *plan_.logFile);
  return true;
}

int Station::runToEnd() {
  std::vector<DeviceTarget> fixed;
  if (int exitCode = 0; !prepare(fixed, exitCode)) return exitCode;
  pending_.assign(fixed.begin(), fixed.end());
  if (plan_.watch) {
    watch_ = watchDeviceMap();
    deviceMap_ = systemDeviceMap();
  }
  bool wasPaused = true;  // so that the first pass looks at the map at once
  for (;;) {
    using OnRequest = StationPlan::OnTerminationRequest;
    const int requests =
        plan_.onTerminationRequest == OnRequest::Ignore ? 0 : terminationRequestCount();
    const int cancelAt = plan_.onTerminationRequest == OnRequest::DrainThenCancel ? 2 : 1;
    if (requests > 0 && requests < cancelAt) draining_ = true;
    if (!cancelled_ && (cancelAsked_ || requests >= cancelAt)) cancelAll();
    if (!acceptsMore()) pending_.clear();
    while (!pending_.empty() && startsNow()) {
      add(pending_.front());
      pending_.pop_front();
    }
    const bool resumed = wasPaused && !paused_;
    wasPaused = paused_;
    if (plan_.watch && acceptsMore() &&
        (resumed || watch_->changed() || Clock::now() - lastScan_ >= kRescanPeriod)) {
      rescan();
    }
    takeNews();
    const bool watching = plan_.watch && acceptsMore();
    if (!watching && pending_.empty() && allDone()) break;
    doorbell_.wait(kTick);
  }
  return finish();
}

DeviceProgress Station::progressOf(const Slot& slot) const {
  const StationDevice& device = *slot.run;
  return {slot.index,          device.statusText(),   device.progress(),
          device.segmentNow(), device.segmentCount(), device.bytesVerified()};
}

bool Station::quotaReached() const {
  const std::optional<std::int64_t> remaining = current_->remaining();
  if (!remaining) return false;
  std::int64_t running = 0;
  for (const auto& slot : slots_) running += slot->done() ? 0 : 1;
  return *remaining <= running;
}

std::shared_ptr<const StationImage> Station::imageForNextDevice() {
  std::shared_ptr<const StationImage> source = current_->image();
  if (source != imageSource_) {
    imageSource_ = source;
    image_ = imageWithRunFolders(std::move(source), plan_.runFolders);
  }
  return image_;
}

void Station::startAttempt(Slot& slot) {
  slot.retryAt.reset();
  slot.settled = false;
  std::shared_ptr<ProtocolTrace> trace = plan_.traceFor ? plan_.traceFor(slot.target) : nullptr;
  // A retry takes over from the attempt before it: one attempt, one record.
  std::unique_ptr<StationDevice> earlier = std::move(slot.run);
  slot.run =
      std::make_unique<StationDevice>(slot.target, slot.image, plan_.timings, doorbell_, trace);
  slot.run->start(earlier.get());
  ++slot.attempts;
  observer_.runStarted({slot.index, slot.attempts, progressOf(slot)});
}

void Station::add(const DeviceTarget& target) {
  auto slot = std::make_unique<Slot>();
  slot->index = slots_.size();
  slot->target = target;
  slot->image = imageForNextDevice();
  slot->appeared = Clock::now();
  slot->identity = deviceNodeIdentity(target.port).value_or(DeviceNodeIdentity{});
  labelUse_.see(target);
  Slot& added = *slot;
  if (plan_.watch) watched_[target.port] = slot.get();
  slots_.push_back(std::move(slot));
  observer_.deviceAppeared({added.index, added.target});
  startAttempt(added);
}

void Station::rescan() {
  lastScan_ = Clock::now();
  const MapTargets now = targetsOfMap(*deviceMap_, plan_.labels);
  std::map<std::string, const DeviceTarget*> present;
  std::map<std::string, DeviceNodeIdentity> identities;
  for (const DeviceTarget& target : now.targets) {
    if (const auto identity = deviceNodeIdentity(target.port)) {
      present[target.port] = &target;
      identities[target.port] = *identity;
    }
  }
  // A flashed device that is gone may come back and be flashed again: one
  // missing now, or back as a node made anew since it appeared, was away.
  for (auto& [port, slot] : watched_) {
    const auto identity = identities.find(port);
    if (identity == identities.end() || identity->second != slot->identity) slot->gone = true;
  }
  for (auto it = watched_.begin(); it != watched_.end();) {
    it = it->second->gone && it->second->done() ? watched_.erase(it) : std::next(it);
  }
  // A paused station still follows what goes away, but takes nothing new.
  for (const auto& [port, target] : present) {
    if (watched_.count(port) == 0 && startsNow()) add(*target);
  }
}

void Station::endAsCancelled(Slot& slot) {
  slot.run->endAsCancelled();
  observer_.progressChanged(progressOf(slot));
}

void Station::settle(Slot& slot) {
  StationDevice& device = *slot.run;
  slot.settled = true;
  if (device.failure() == RunFailure::PortGone) slot.gone = true;
  const bool freshlyBusy =
      device.portWasBusy() && plan_.watch && Clock::now() - slot.appeared < kBusyRetryWindow;
  if (freshlyBusy) {
    // Not an attempt of its own: no record, and no run folder left behind.
    device.dropRunFolder();
    if (cancelled_) {
      // The retry the cancel stopped: the attempt ends as cancelled.
      endAsCancelled(slot);
    } else {
      slot.retryAt = Clock::now() + kBusyRetryPause;
      observer_.portBusyRetry({slot.index, slot.attempts + 1});
      return;
    }
  }
  RunFinished finished;
  finished.device = slot.index;
  log_.setImage(slot.image->path, slot.image->sha256);
  if (device.summary().result == RunSummary::Result::Verified) {
    current_->countVerified(slot.image->sha256);
  }
  AttemptLog::Recorded recorded =
      log_.record({slot.target.slot, device.summary(), device.startedAt(), device.endedAt()});
  finished.record = recorded.line;
  if (log_.enabled()) {
    finished.logRecordLost = std::move(recorded.lost);
    device.noteLogRecord(!finished.logRecordLost);
    // The log first, then the database, which never holds up the station.
    if (results_) results_->submit(std::move(recorded.line), !finished.logRecordLost);
  }
  finished.summary = device.summary();
  finished.hints = device.hints();
  finished.started = device.startedAt();
  finished.ended = device.endedAt();
  observer_.runFinished(finished);
}

void Station::takeNews() {
  const std::time_t now = std::time(nullptr);
  bool changed = false;
  for (const auto& slot : slots_) {
    if (slot->retryAt) {
      if (cancelled_) {
        // A cancel while the port waits to be tried again is a cancel.
        slot->retryAt.reset();
        endAsCancelled(*slot);
        settle(*slot);
        changed = true;
      } else if (Clock::now() >= *slot->retryAt) {
        startAttempt(*slot);
        changed = true;
      }
      continue;
    }
    if (slot->run->pump(now)) {
      changed = true;
      observer_.progressChanged(progressOf(*slot));
    }
    // A run that could not start at all (no run folder) ends here too.
    if (slot->run->finished() && !slot->settled) {
      settle(*slot);
      changed = true;
    }
  }
  StationPass pass;
  pass.devicesChanged = changed;
  pass.waitingForDevices = plan_.watch && acceptsMore();
  for (const auto& slot : slots_) {
    if (!slot->done()) continue;
    ++(slot->run->summary().result == RunSummary::Result::Verified ? pass.verified : pass.failed);
  }
  pass.paused = paused_;
  pass.draining = draining_;
  pass.quotaReached = acceptsMore() && quotaReached();
  for (const StationJobNotice& notice : current_->takeNotices()) observer_.jobNotice(notice);
  if (results_) {
    passControlsOn();
    tellResultsNotices();
    pass.databaseBehind = results_->behind().value_or(std::string());
  }
  observer_.passDone(pass);
}

bool Station::allDone() const {
  for (const auto& slot : slots_) {
    if (!slot->done()) return false;
  }
  return true;
}

void Station::tellResultsNotices() {
  for (const ResultsNotice& notice : results_->takeNotices()) observer_.resultsDatabase(notice);
}

void Station::cancelAll() {
  cancelled_ = true;
  for (const auto& slot : slots_) slot->run->cancel();
}

int Station::finish() {
  if (plan_.watch) {
    for (const std::string& label : labelUse_.unmatched()) {
      observer_.warning(
          {StationWarning::Kind::LabelMatchedNoDevice, StationWarning::Among::Watched, label});
    }
  }
  if (results_) {
    passControlsOn();
    results_->finish(kResultsFinishLimit);
    tellResultsNotices();
  }
  StationFinished finished;
  finished.ran = true;
  finished.cancelled = cancelled_;
  std::vector<int> codes;
  for (const auto& slot : slots_) {
    RunSummary summary = slot->run->summary();
    summary.stationCancelled = cancelled_;
    codes.push_back(summary.exitCode);
    ++(summary.result == RunSummary::Result::Verified ? finished.verified : finished.failed);
    finished.devices.push_back({slot->target, std::move(summary)});
  }
  finished.exitCode = cancelled_ && slots_.empty() ? kExitCancelled : worstExitCode(codes);
  observer_.stationFinished(finished);
  return finished.exitCode;
}

}  // namespace voltrix

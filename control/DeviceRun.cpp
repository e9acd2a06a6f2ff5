#include "control/DeviceRun.h"

#include <utility>
#include <vector>

#include "control/Hints.h"
#include "control/Outcome.h"
#include "control/RunPieces.h"
#include "control/ThreadWorkerLauncher.h"
#include "engine/DownloadWorker.h"
#include "engine/MessageQueue.h"
#include "engine/RunPreparation.h"
#include "link/SerialLinkPhases.h"
#include "port/ComNumber.h"
#include "port/ComResolver.h"

namespace voltrix {

// The run's own inbox: the worker posts, the front end's thread takes. A
// post never waits for the reader; the news hook lets a reader that looks
// after several runs sleep on one bell.
class DeviceRun::Inbox final : public MessageSink {
 public:
  explicit Inbox(std::function<void()> news) : news_(std::move(news)) {}

  void post(const WorkerMessage& message) noexcept override {
    queue_.post(message);
    ring();
  }

  // The worker has ended: nothing more will come.
  void close() noexcept {
    queue_.close();
    ring();
  }

  void wait(std::chrono::milliseconds limit) { queue_.wait(limit); }
  std::vector<WorkerMessage> takeAll() { return queue_.drain(); }

 private:
  void ring() noexcept {
    if (!news_) return;
    try {
      news_();
    } catch (...) {
      // A bell that cannot ring costs the reader a bounded wait, no more.
    }
  }

  std::function<void()> news_;
  MessageQueue queue_;
};

namespace {

// Forgets how the last run ended, keeping what the front end said about
// the device.
void clearOutcome(RunSummary& summary) {
  RunSummary fresh;
  fresh.port = std::move(summary.port);
  fresh.segmentsInImage = summary.segmentsInImage;
  fresh.inStation = summary.inStation;
  fresh.slot = std::move(summary.slot);
  fresh.label = std::move(summary.label);
  fresh.stationCancelled = summary.stationCancelled;
  summary = std::move(fresh);
}

}  // namespace

DeviceRun::DeviceRun(DownloadState& state, Parts parts)
    : state_(state),
      parts_(std::move(parts)),
      ownLauncher_(parts_.launcher == nullptr ? std::make_unique<ThreadWorkerLauncher>() : nullptr),
      launcher_(parts_.launcher != nullptr ? parts_.launcher : ownLauncher_.get()) {}

DeviceRun::~DeviceRun() {
  if (underway()) cancel();
}

Refusal DeviceRun::start(const RunRequest& request) {
  const RunTimes since = request.since.value_or(RunTimes::now());
  if (!underway()) {
    portFromMap_ = request.port.deviceMap != nullptr;
    portPath_ = request.port.path;
    portNumber_ = request.port.comNumber;
  }
  if (request.port.deviceMap != nullptr) {
    // The device map is read before the busy test, so its refusals win, and
    // the port number is read afresh even for a start that is then refused.
    const DeviceMapValue value = request.port.deviceMap->queryValue(SERIALCOMM_KEY, VCP0_VALUE);
    if (value.status == DeviceMapStatus::KeyUnavailable) {
      return refuse(Refusal::RegistryDamaged, request, since);
    }
    if (value.status == DeviceMapStatus::ValueMissing) {
      return refuse(Refusal::DriverNotInstalled, request, since);
    }
    registryValue_ = value.data;
    registryPort_ = portNumberFromValue(value.data);
  }

  BusyState idle = BusyState::Idle;
  if (!state_.busy.compare_exchange_strong(idle, BusyState::Downloading)) {
    return refuse(Refusal::Busy, request, since);
  }
  // The state is ours until the worker hands it back.
  beginOutcome(since);
  const Refusal prepared = request.provideImage
                               ? request.provideImage(state_, request.runFolderParent)
                               : prepareRun(state_, request.imagePath, request.runFolderParent);
  if (prepared != Refusal::None) {
    state_.busy = BusyState::Idle;
    return refuse(prepared, request, since);
  }
  summary_.segmentsInImage = state_.segmentCount;

  const std::uint32_t given = request.port.comNumber != 0 ? request.port.comNumber : 1;
  state_.comPort = portFromMap_ ? registryPort_ : static_cast<std::int32_t>(given);
  state_.cancelRequested = false;
  std::shared_ptr<LinkPhases> link = linkFor(request.port);
  if (!parts_.sink) inbox_ = std::make_shared<Inbox>(parts_.onNews);
  const std::shared_ptr<MessageSink> sink =
      parts_.sink ? parts_.sink : std::static_pointer_cast<MessageSink>(inbox_);
  auto ended = std::make_shared<std::atomic<bool>>(false);
  workerEnded_ = ended;
  DownloadState& state = state_;
  const std::shared_ptr<Inbox> inbox = inbox_;
  const bool launched = launcher_->launch([&state, sink, link, ended, inbox] {
    DownloadWorker(state, *sink, *link);
    ended->store(true);
    if (inbox) inbox->close();
  });
  if (!launched) {
    workerEnded_.reset();
    inbox_.reset();
    discardRunFolder(state_);
    state_.busy = BusyState::Idle;
    return refuse(Refusal::WorkerNotStarted, request, since);
  }
  return Refusal::None;
}

void DeviceRun::beginOutcome(const RunTimes& since) {
  times_ = since;
  endedAt_ = {};
  finished_ = false;
  refusal_ = Refusal::None;
  failure_ = RunFailure::None;
  portWasBusy_ = false;
  display_ = StatusDisplay();
  progress_ = RunProgress();
  verified_ = VerifiedSegments();
  hints_.clear();
  clearOutcome(summary_);
  serialLink_.reset();
  inbox_.reset();
  workerEnded_.reset();
}

Refusal DeviceRun::refuse(Refusal refusal, const RunRequest& request, const RunTimes& since) {
  if (underway()) return refusal;
  beginOutcome(since);
  refusal_ = refusal;
  summarizeRefusal(summary_, refusal);
  addHintLine(hintForRefusal(refusal, state_, request.imagePath), true);
  markEnded();
  return refusal;
}

std::shared_ptr<LinkPhases> DeviceRun::linkFor(const RunPort& port) {
  if (parts_.link) {
    serialLink_ = std::dynamic_pointer_cast<SerialLinkPhases>(parts_.link);
    return parts_.link;
  }
  // A port that names no node goes through the system's numbering, so that
  // a failure says why the number stands for nothing.
  auto resolver = port.path.empty() ? systemComResolver() : fixedDeviceResolver(port.path);
  serialLink_ = std::make_shared<SerialLinkPhases>(std::move(resolver), parts_.timings);
  if (parts_.trace) serialLink_->setTrace(parts_.trace);
  return serialLink_;
}

std::string DeviceRun::portNode() const {
  if (!portPath_.empty()) return portPath_;
  const std::int64_t number =
      portFromMap_ ? registryPort_ : (portNumber_ != 0 ? std::int64_t{portNumber_} : 1);
  if (number < 1) return {};
  return systemComResolver()->resolve(static_cast<std::uint32_t>(number)).devicePath;
}

void DeviceRun::waitForNews(std::chrono::milliseconds limit) {
  if (inbox_ && !finished_) inbox_->wait(limit);
}

void DeviceRun::take(const WorkerMessage& message, std::time_t now) {
  display_.apply(message, state_, now);
  progress_.see(message, state_);
  verified_.see(message);
  // The first failure a run reports decides how it ended.
  if (failure_ == RunFailure::None) failure_ = message.failure;
  if (parts_.onMessage) parts_.onMessage(*this, message);
}

bool DeviceRun::pump(std::time_t now) {
  if (finished_ || !inbox_ || !workerEnded_) return false;
  bool changed = false;
  for (const WorkerMessage& message : inbox_->takeAll()) {
    take(message, now);
    changed = true;
  }
  if (workerEnded_->load()) {
    // The worker is gone: take what it posted last, then end.
    for (const WorkerMessage& late : inbox_->takeAll()) take(late, now);
    if (ownLauncher_) ownLauncher_->joinAll();
    finish(exitCodeOfRun(failure_, state_));
    changed = true;
  }
  return changed;
}

void DeviceRun::endWithoutRun(RunFailure failure) {
  refusal_ = Refusal::None;
  failure_ = failure;
  display_.apply(failureMessage(failure), state_, std::time(nullptr));
  finish(exitCodeFor(failure));
  // It came before or between runs, in no segment.
  summary_.failedSegment = 0;
  summary_.failedAddress = 0;
}

void DeviceRun::dropRunFolder() {
  discardRunFolder(state_);
  summary_.runFolder.clear();
  hints_.clear();
}

void DeviceRun::markEnded() {
  finished_ = true;
  endedAt_ = std::chrono::system_clock::now();
  summary_.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - times_.started).count();
  summary_.status = display_.statusText();
}

void DeviceRun::finish(int exitCode) {
  hints_.clear();
  summary_.hint.clear();
  const OpenFailure openFailure =
      serialLink_ ? serialLink_->openFailures().failure() : OpenFailure::None;
  summarizeRun(summary_, exitCode, failure_, verified_, state_, openFailure);
  markEnded();
  portWasBusy_ = false;
  if (failure_ == RunFailure::PortOpen && serialLink_) {
    portWasBusy_ = openFailure == OpenFailure::PortBusy;
    if (portFromMap_) addHintLine(describeDeviceMapValue(registryValue_, registryPort_), true);
    addHintLine(hintForPort(serialLink_->openFailures()), true);
  }
  if (failure_ != RunFailure::None) addHintLine(describeKeptFiles(state_), false);
}

void DeviceRun::addHintLine(const std::string& line, bool inSummary) {
  if (line.empty()) return;
  hints_ += (hints_.empty() ? "" : "\n") + line;
  if (inSummary) voltrix::addHint(summary_, line);
}

}  // namespace voltrix

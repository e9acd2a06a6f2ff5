#include "cli/StationRun.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/DeviceMapWatch.h"
#include "app/ProcessSignals.h"
#include "cli/AttemptLog.h"
#include "cli/ExitCodes.h"
#include "cli/HostSystem.h"
#include "cli/Outcome.h"
#include "cli/RunPieces.h"
#include "cli/StationDisplay.h"
#include "cli/StationTable.h"
#include "cli/StationTargets.h"

namespace voltrix::cli {

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
// The front end wakes at least this often to notice Ctrl+C.
constexpr auto kTick = std::chrono::milliseconds(200);
// A terminal's block is redrawn at most this often.
constexpr auto kRedrawPeriod = std::chrono::milliseconds(100);

// One device of the run, across the attempts a busy port may take.
struct Slot {
  DeviceTarget target;
  std::unique_ptr<StationDevice> run;
  Clock::time_point appeared;
  std::optional<Clock::time_point> retryAt;
  bool done() const { return run->finished() && !retryAt; }
};

class Station {
 public:
  Station(const CliOptions& options, std::shared_ptr<const StationImage> image, AttemptLog& log)
      : options_(options),
        image_(std::move(image)),
        timings_(linkTimingsFor(options)),
        display_(options.output == CliOptions::Output::Normal ? stdout : nullptr,
                 options.output == CliOptions::Output::Normal ? redrawableTerminalColumns() : 0),
        log_(log) {}

  void add(const DeviceTarget& target);
  int run();

 private:
  void startAttempt(Slot& slot);
  bool mayStartMore() const {
    return !cancelled_ && (!options_.count || static_cast<int>(slots_.size()) < *options_.count);
  }
  void rescan();
  void takeNews();
  void settle(Slot& slot);
  bool allDone() const;
  void cancelAll();
  int finishRun();

  const CliOptions& options_;
  std::shared_ptr<const StationImage> image_;
  LinkTimings timings_;
  StationDisplay display_;
  AttemptLog& log_;
  LabelUse labelUse_{options_.labels};
  Doorbell doorbell_;
  std::vector<std::unique_ptr<Slot>> slots_;
  // The ports flashed while watching; one leaves when it is unplugged.
  std::map<std::string, Slot*> watched_;
  std::unique_ptr<DeviceMapWatch> watch_;
  std::unique_ptr<DeviceMap> deviceMap_;
  Clock::time_point lastScan_{};
  Clock::time_point lastDrawn_{};
  bool redrawDue_ = false;
  bool cancelled_ = false;
};

void Station::startAttempt(Slot& slot) {
  slot.retryAt.reset();
  slot.run = std::make_unique<StationDevice>(slot.target, image_, timings_, doorbell_);
  slot.run->start();
}

void Station::add(const DeviceTarget& target) {
  auto slot = std::make_unique<Slot>();
  slot->target = target;
  slot->appeared = Clock::now();
  labelUse_.see(target);
  startAttempt(*slot);
  if (options_.watch) watched_[target.port] = slot.get();
  slots_.push_back(std::move(slot));
}

void Station::rescan() {
  lastScan_ = Clock::now();
  const MapTargets now = targetsOfMap(*deviceMap_, options_.labels);
  std::map<std::string, const DeviceTarget*> present;
  for (const DeviceTarget& target : now.targets) {
    if (devicePresent(target.port)) present[target.port] = &target;
  }
  // A flashed device that is gone may come back and be flashed again.
  for (auto it = watched_.begin(); it != watched_.end();) {
    it = present.count(it->first) == 0 && it->second->done() ? watched_.erase(it) : std::next(it);
  }
  for (const auto& [port, target] : present) {
    if (watched_.count(port) == 0 && mayStartMore()) add(*target);
  }
}

void Station::settle(Slot& slot) {
  const StationDevice& device = *slot.run;
  log_.record({slot.target.name, device.summary(), device.startedAt(), device.endedAt()});
  const bool freshlyBusy = device.portWasBusy() && options_.watch && !cancelled_ &&
                           Clock::now() - slot.appeared < kBusyRetryWindow;
  if (freshlyBusy) {
    slot.retryAt = Clock::now() + kBusyRetryPause;
    return;
  }
  if (!device.hints().empty()) display_.note(device, device.hints());
}

void Station::takeNews() {
  const std::time_t now = std::time(nullptr);
  bool changed = false;
  for (const auto& slot : slots_) {
    if (slot->retryAt) {
      if (cancelled_) {
        slot->retryAt.reset();
      } else if (Clock::now() >= *slot->retryAt) {
        startAttempt(*slot);
        changed = true;
      }
      continue;
    }
    const bool wasFinished = slot->run->finished();
    if (slot->run->pump(now)) changed = true;
    if (!wasFinished && slot->run->finished()) settle(*slot);
  }
  redrawDue_ = redrawDue_ || changed;
  const bool mayDraw = !display_.redrawsInPlace() || Clock::now() - lastDrawn_ >= kRedrawPeriod;
  if (redrawDue_ && mayDraw) {
    redrawDue_ = false;
    std::vector<const StationDevice*> lines;
    for (const auto& slot : slots_) lines.push_back(slot->run.get());
    display_.show(lines);
    lastDrawn_ = Clock::now();
  }
}

bool Station::allDone() const {
  for (const auto& slot : slots_) {
    if (!slot->done()) return false;
  }
  return true;
}

void Station::cancelAll() {
  cancelled_ = true;
  for (const auto& slot : slots_) slot->run->cancel();
}

int Station::run() {
  if (options_.watch) {
    watch_ = watchDeviceMap();
    deviceMap_ = systemDeviceMap();
    rescan();
  }
  for (;;) {
    if (terminationRequested() && !cancelled_) cancelAll();
    if (options_.watch && mayStartMore() &&
        (watch_->changed() || Clock::now() - lastScan_ >= kRescanPeriod)) {
      rescan();
    }
    takeNews();
    const bool watching = options_.watch && mayStartMore();
    if (!watching && allDone()) break;
    doorbell_.wait(kTick);
  }
  return finishRun();
}

int Station::finishRun() {
  std::vector<const StationDevice*> lines;
  std::vector<StationRow> rows;
  std::vector<int> codes;
  for (const auto& slot : slots_) {
    lines.push_back(slot->run.get());
    rows.push_back({slot->target.name, slot->run->summary()});
    codes.push_back(slot->run->summary().exitCode);
  }
  display_.show(lines);
  display_.finish();
  if (options_.output == CliOptions::Output::Json) {
    for (const StationRow& row : rows) std::printf("%s\n", summaryJson(row.summary).c_str());
  } else {
    std::fputs(stationTable(rows).c_str(), stdout);
  }
  std::fflush(stdout);
  if (options_.watch) labelUse_.warnUnmatched(stderr, "while watching");
  if (cancelled_ && slots_.empty()) return kExitCancelled;
  return worstExitCode(codes);
}

// DOWNLOAD would not start: the same texts and exit code as a run on one
// device.
int refuse(const CliOptions& options, Refusal refusal, const std::string& hint) {
  if (options.output == CliOptions::Output::Normal) {
    const char* caption = refusalCaption(refusal);
    std::printf("%s %s\n", caption != nullptr ? caption : "voltrix-cli", refusalText(refusal));
    if (!hint.empty()) std::printf("%s\n", hint.c_str());
  }
  RunSummary summary;
  summary.result = RunSummary::Result::Refused;
  summary.failure = refusalText(refusal);
  summary.exitCode = exitCodeFor(refusal);
  const std::string line =
      options.output == CliOptions::Output::Json ? summaryJson(summary) : summaryLine(summary);
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  return summary.exitCode;
}

}  // namespace

int runStation(const CliOptions& options) {
  catchTerminationRequests();
  std::vector<DeviceTarget> targets;
  if (options.all) {
    // The device map is read before the image, as DOWNLOAD does.
    MapTargets listed = targetsOfMap(*systemDeviceMap(), options.labels);
    if (listed.refusal != Refusal::None) return refuse(options, listed.refusal, {});
    targets = std::move(listed.targets);
  } else if (!options.watch) {
    targets = targetsOfPorts(options.ports, options.labels);
  }
  if (!options.watch) {
    // A label that names none of a fixed set of devices is a mistake in
    // the command line; the map's devices may simply not all be plugged in.
    LabelUse labels(options.labels);
    for (const DeviceTarget& target : targets) labels.see(target);
    const std::vector<std::string> unmatched = labels.unmatched();
    if (!options.all && !unmatched.empty()) {
      return reportUsageError("--label " + unmatched.front() +
                              " names none of the devices given with --port");
    }
    labels.warnUnmatched(stderr, "of the device map");
  }
  const StationImageLoad load = loadStationImage(options.image);
  if (load.refusal != Refusal::None) return refuse(options, load.refusal, load.hint);

  AttemptLog log;
  if (std::string error; !log.open(options, error)) {
    std::fprintf(stderr, "voltrix-cli: %s\n", error.c_str());
    return kExitFileError;
  }
  log.setImage(load.image->path, load.image->sha256);
  Station station(options, load.image, log);
  for (const DeviceTarget& target : targets) station.add(target);
  return station.run();
}

}  // namespace voltrix::cli

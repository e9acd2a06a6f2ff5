#include "cli/StationRun.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control/DeviceMapWatch.h"
#include "platform/ProcessSignals.h"
#include "cli/AttemptLog.h"
#include "cli/ConsoleTrace.h"
#include "control/ExitCodes.h"
#include "cli/HostSystem.h"
#include "control/Outcome.h"
#include "control/RunPieces.h"
#include "record/SummaryJson.h"
#include "cli/StationDisplay.h"
#include "cli/StationTable.h"
#include "station/StationTargets.h"

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
  DeviceNodeIdentity identity;  // of the node when it appeared
  // Seen away since it appeared (unplugged, or its run found the port gone):
  // whatever comes next under its name is a new device.
  bool gone = false;
  std::optional<Clock::time_point> retryAt;
  int attempts = 0;
  bool done() const { return run->finished() && !retryAt; }
};

class Station {
 public:
  Station(const CliOptions& options, std::shared_ptr<const StationImage> image, AttemptLog& log)
      : options_(options),
        image_(std::move(image)),
        timings_(linkTimingsFor(options)),
        // The run is shown on standard error; the table or JSON lines at its
        // end are the results, on standard output. A trace's lines would
        // tear a block redrawn in place: with one the run is shown in lines.
        display_(options.output == CliOptions::Output::Normal ? stderr : nullptr,
                 options.output == CliOptions::Output::Normal && !options.verbose
                     ? redrawableTerminalColumns()
                     : 0),
        log_(log),
        traceOrigin_(Clock::now()) {}

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
  // "waiting for devices: 12 verified, 1 failed" while watching for more.
  std::string waitingLine() const;

  const CliOptions& options_;
  std::shared_ptr<const StationImage> image_;
  LinkTimings timings_;
  StationDisplay display_;
  AttemptLog& log_;
  LabelUse labelUse_{options_.labels};
  Doorbell doorbell_;
  std::vector<std::unique_ptr<Slot>> slots_;
  // The ports flashed while watching; one leaves once it has been unplugged
  // and its run is over, however short the gap before it came back.
  std::map<std::string, Slot*> watched_;
  std::unique_ptr<DeviceMapWatch> watch_;
  std::unique_ptr<DeviceMap> deviceMap_;
  Clock::time_point lastScan_{};
  Clock::time_point lastDrawn_{};
  bool redrawDue_ = true;  // a watching station says at once that it waits
  bool cancelled_ = false;
  Clock::time_point traceOrigin_;
};

void Station::startAttempt(Slot& slot) {
  slot.retryAt.reset();
  std::shared_ptr<ProtocolTrace> trace;
  if (options_.verbose) {
    const std::string& who = slot.target.port.empty() ? slot.target.name : slot.target.port;
    trace = std::make_shared<ConsoleTrace>(stderr, who, traceOrigin_);
  }
  // A retry takes over from the attempt before it: one attempt, one record.
  std::unique_ptr<StationDevice> earlier = std::move(slot.run);
  slot.run = std::make_unique<StationDevice>(slot.target, image_, timings_, doorbell_, trace);
  slot.run->start(earlier.get());
  ++slot.attempts;
}

void Station::add(const DeviceTarget& target) {
  auto slot = std::make_unique<Slot>();
  slot->target = target;
  slot->appeared = Clock::now();
  slot->identity = deviceNodeIdentity(target.port).value_or(DeviceNodeIdentity{});
  labelUse_.see(target);
  startAttempt(*slot);
  if (options_.watch) watched_[target.port] = slot.get();
  slots_.push_back(std::move(slot));
}

void Station::rescan() {
  lastScan_ = Clock::now();
  const MapTargets now = targetsOfMap(*deviceMap_, options_.labels);
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
  for (const auto& [port, target] : present) {
    if (watched_.count(port) == 0 && mayStartMore()) add(*target);
  }
}

void Station::settle(Slot& slot) {
  StationDevice& device = *slot.run;
  if (device.failure() == RunFailure::PortGone) slot.gone = true;
  const bool freshlyBusy =
      device.portWasBusy() && options_.watch && Clock::now() - slot.appeared < kBusyRetryWindow;
  if (freshlyBusy) {
    // Not an attempt of its own: no record, and no run folder left behind.
    device.dropRunFolder();
    if (cancelled_) {
      // The retry the cancel stopped: the attempt ends as cancelled.
      device.endAsCancelled();
    } else {
      slot.retryAt = Clock::now() + kBusyRetryPause;
      const std::string note =
          "port busy, trying again (attempt " + std::to_string(slot.attempts + 1) + ")";
      device.setWaitingNote(note);
      if (!display_.redrawsInPlace()) display_.note(device, note);
      return;
    }
  }
  if (log_.enabled()) {
    device.noteLogRecord(
        log_.record({slot.target.slot, device.summary(), device.startedAt(), device.endedAt()}));
  }
  if (!device.hints().empty()) display_.note(device, device.hints());
}

void Station::takeNews() {
  const std::time_t now = std::time(nullptr);
  bool changed = false;
  for (const auto& slot : slots_) {
    if (slot->retryAt) {
      if (cancelled_) {
        // A cancel while the port waits to be tried again is a cancel.
        slot->retryAt.reset();
        slot->run->endAsCancelled();
        settle(*slot);
        changed = true;
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
    display_.show(lines, waitingLine());
    lastDrawn_ = Clock::now();
  }
}

std::string Station::waitingLine() const {
  if (!options_.watch || !mayStartMore()) return {};
  int verified = 0;
  int failed = 0;
  for (const auto& slot : slots_) {
    if (!slot->done()) continue;
    if (slot->run->summary().result == RunSummary::Result::Verified) {
      ++verified;
    } else {
      ++failed;
    }
  }
  return "waiting for devices: " + std::to_string(verified) + " verified, " +
         std::to_string(failed) + " failed";
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
  display_.show(lines, {});
  display_.finish();
  for (StationRow& row : rows) row.summary.stationCancelled = cancelled_;
  if (options_.output == CliOptions::Output::Json) {
    for (const StationRow& row : rows) std::printf("%s\n", summaryJson(row.summary).c_str());
  } else {
    std::fputs(stationTable(rows, cancelled_).c_str(), stdout);
  }
  std::fflush(stdout);
  if (options_.watch) labelUse_.warnUnmatched(stderr, "while watching");
  if (cancelled_ && slots_.empty()) return kExitCancelled;
  return worstExitCode(codes);
}

// DOWNLOAD would not start: the same texts and exit code as a run on one
// device.
int refuse(const CliOptions& options, Refusal refusal, const std::string& hint) {
  if (options.output != CliOptions::Output::Quiet) {
    const char* caption = refusalCaption(refusal);
    std::fprintf(stderr, "%s %s\n", caption != nullptr ? caption : "voltrix-cli",
                 refusalText(refusal));
    if (!hint.empty()) std::fprintf(stderr, "%s\n", hint.c_str());
    std::fflush(stderr);
  }
  RunSummary summary;
  summarizeRefusal(summary, refusal);
  addHint(summary, hint);
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
  const StationImageLoad load = loadStationImage(options.image, ".");
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

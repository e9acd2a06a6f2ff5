#include "cli/StationConsole.h"

#include <cstdio>

#include "cli/HostSystem.h"
#include "cli/StationTable.h"
#include "record/SummaryJson.h"

namespace voltrix::cli {

namespace {

// A terminal's block is redrawn at most this often.
constexpr auto kRedrawPeriod = std::chrono::milliseconds(100);

void warnUnmatchedLabel(const std::string& label, const char* where) {
  std::fprintf(stderr, "voltrix-cli: warning: --label %s matched no device %s\n", label.c_str(),
               where);
  std::fflush(stderr);
}

}  // namespace

void printSummary(const CliOptions& options, const RunSummary& summary) {
  const std::string line =
      options.output == CliOptions::Output::Json ? summaryJson(summary) : summaryLine(summary);
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void reportLostRecord(const LogRecordLost& lost) {
  std::fprintf(stderr, "voltrix-cli: the log record of %s could not be kept: %s\n",
               lost.port.c_str(), lost.reason.c_str());
}

void ResultsReport::tell(const ResultsNotice& notice) {
  switch (notice.kind) {
    case ResultsNotice::Kind::Behind:
      if (!notice.firstOfKind) return;
      toldBehind_ = true;
      std::fprintf(stderr,
                   "voltrix-cli: %s (the records stay in the log; the database catches up "
                   "later)\n",
                   ("database behind: " + notice.reason).c_str());
      break;
    case ResultsNotice::Kind::CaughtUp:
      if (!toldBehind_) return;
      toldBehind_ = false;
      std::fprintf(stderr, "voltrix-cli: the database has caught up with the log\n");
      break;
    case ResultsNotice::Kind::SkippedLines:
      std::fprintf(stderr,
                   "voltrix-cli: warning: %llu line%s of the log %s not a record: skipped\n",
                   static_cast<unsigned long long>(notice.lines), notice.lines == 1 ? "" : "s",
                   notice.lines == 1 ? "is" : "are");
      break;
  }
  std::fflush(stderr);
}

namespace {

std::string recordsWaitText(std::uint64_t records) {
  return std::to_string(records) + (records == 1 ? " record waits" : " records wait") +
         " in the outbox";
}

}  // namespace

void LineReport::tell(const LineNotice& notice) {
  switch (notice.kind) {
    case LineNotice::Kind::Progress:
      return;
    case LineNotice::Kind::Unreachable:
      if (toldUnreachable_) return;
      toldUnreachable_ = true;
      std::fprintf(stderr, "voltrix-cli: line: %s cannot be reached (%s); %s\n", notice.url.c_str(),
                   notice.lastError.c_str(), recordsWaitText(notice.records).c_str());
      break;
    case LineNotice::Kind::TokenRefused:
      if (toldToken_) return;
      toldToken_ = true;
      std::fprintf(stderr, "voltrix-cli: line: %s %s; %s (check --line-token-file)\n",
                   notice.url.c_str(), notice.lastError.c_str(),
                   recordsWaitText(notice.records).c_str());
      break;
    case LineNotice::Kind::Back:
      if (!toldUnreachable_ && !toldToken_) return;
      toldUnreachable_ = false;
      std::fprintf(stderr, "voltrix-cli: line: %s takes the records again; %s\n",
                   notice.url.c_str(), recordsWaitText(notice.records).c_str());
      break;
    case LineNotice::Kind::RecordRefused:
      std::fprintf(stderr,
                   "voltrix-cli: line: %s refuses the record %s (%s); it and those after it "
                   "wait in the outbox and are offered again every 30 s (is the URL the "
                   "line's, and its version as new as this station's?)\n",
                   notice.url.c_str(), notice.refused.c_str(), notice.lastError.c_str());
      break;
    case LineNotice::Kind::Left:
      if (notice.records == 0) return;
      std::fprintf(stderr, "voltrix-cli: line: %s; they are sent at the next start\n",
                   recordsWaitText(notice.records).c_str());
      break;
  }
  std::fflush(stderr);
}

StationConsole::StationConsole(const CliOptions& options)
    : options_(options),
      // The run is shown on standard error; the table or JSON lines at its
      // end are the results, on standard output. A trace's lines would tear
      // a block redrawn in place: with one the run is shown in lines.
      display_(options.output == CliOptions::Output::Normal ? stderr : nullptr,
               options.output == CliOptions::Output::Normal && !options.verbose
                   ? redrawableTerminalColumns()
                   : 0) {}

void StationConsole::deviceAppeared(const DeviceAppeared& event) {
  lines_.resize(event.device + 1);
  lines_[event.device].name = event.target.name;
  lines_[event.device].port = event.target.port;
}

void StationConsole::runStarted(const RunStarted& event) {
  StationLine& line = lines_.at(event.device);
  line.progress = event.progress;
  line.waitingNote.clear();
  line.finished = false;
}

void StationConsole::progressChanged(const DeviceProgress& event) {
  lines_.at(event.device).progress = event;
}

void StationConsole::portBusyRetry(const PortBusyRetry& event) {
  StationLine& line = lines_.at(event.device);
  line.waitingNote = "port busy, trying again (attempt " + std::to_string(event.nextAttempt) + ")";
  if (!display_.redrawsInPlace()) display_.note(line, line.waitingNote);
}

void StationConsole::runFinished(const RunFinished& event) {
  StationLine& line = lines_.at(event.device);
  line.waitingNote.clear();
  line.finished = true;
  line.passed = event.summary.result == RunSummary::Result::Verified;
  line.exitCode = event.summary.exitCode;
  if (event.logRecordLost) reportLostRecord(*event.logRecordLost);
  if (!event.hints.empty()) display_.note(line, event.hints);
}

void StationConsole::warning(const StationWarning& event) {
  switch (event.among) {
    case StationWarning::Among::DeviceMap:
      warnUnmatchedLabel(event.label, "of the device map");
      break;
    case StationWarning::Among::GivenPorts:
      warnUnmatchedLabel(event.label, "of the given ports");
      break;
    case StationWarning::Among::Watched:
      unmatchedWhileWatching_.push_back(event.label);
      break;
  }
}

// DOWNLOAD would not start: the same texts and exit code as a run on one
// device.
void StationConsole::refused(const StationRefused& event) {
  if (options_.output != CliOptions::Output::Quiet) {
    const char* caption = refusalCaption(event.refusal);
    std::fprintf(stderr, "%s %s\n", caption != nullptr ? caption : "voltrix-cli",
                 refusalText(event.refusal));
    if (!event.hint.empty()) std::fprintf(stderr, "%s\n", event.hint.c_str());
    std::fflush(stderr);
  }
  printSummary(options_, event.summary);
}

void StationConsole::logUnavailable(const std::string& error) {
  std::fprintf(stderr, "voltrix-cli: %s\n", error.c_str());
}

void StationConsole::jobNotice(const StationJobNotice& notice) {
  display_.note(notice.text);
}

void StationConsole::passDone(const StationPass& event) {
  if (event.draining && !toldDraining_) {
    toldDraining_ = true;
    display_.note("draining: the devices being flashed finish, no new one starts");
  }
  if (event.quotaReached != toldQuota_) {
    toldQuota_ = event.quotaReached;
    if (toldQuota_) display_.note("the job's quota is reached: no new device starts");
  }
  redrawDue_ = redrawDue_ || event.devicesChanged;
  const bool mayDraw = !display_.redrawsInPlace() || Clock::now() - lastDrawn_ >= kRedrawPeriod;
  if (!redrawDue_ || !mayDraw) return;
  redrawDue_ = false;
  // "waiting for devices: 12 verified, 1 failed" while watching for more.
  std::string waiting;
  if (event.waitingForDevices) {
    waiting = "waiting for devices: " + std::to_string(event.verified) + " verified, " +
              std::to_string(event.failed) + " failed";
  }
  display_.show(lines_, waiting);
  lastDrawn_ = Clock::now();
}

void StationConsole::stationFinished(const StationFinished& event) {
  if (!event.ran) return;
  display_.show(lines_, {});
  display_.finish();
  if (options_.output == CliOptions::Output::Json) {
    for (const DeviceResult& device : event.devices) {
      std::printf("%s\n", summaryJson(device.summary).c_str());
    }
  } else {
    std::vector<StationRow> rows;
    for (const DeviceResult& device : event.devices) {
      rows.push_back({device.target.name, device.summary});
    }
    std::fputs(stationTable(rows, event.cancelled).c_str(), stdout);
  }
  std::fflush(stdout);
  for (const std::string& label : unmatchedWhileWatching_) {
    warnUnmatchedLabel(label, "while watching");
  }
}

}  // namespace voltrix::cli

#include "cli/DownloadRunner.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

#include "cli/ConsoleDisplay.h"
#include "cli/ConsoleTrace.h"
#include "cli/HostSystem.h"
#include "cli/StationConsole.h"
#include "control/DeviceMap.h"
#include "control/DeviceRun.h"
#include "control/ExitCodes.h"
#include "control/RunSummary.h"
#include "engine/Refusal.h"
#include "platform/ProcessSignals.h"
#include "platform/Utf8Path.h"
#include "record/AttemptLog.h"
#include "record/ResultsStore.h"
#include "record/Sha256.h"
#include "record/SlotNames.h"

namespace voltrix::cli {

namespace {

// How often a run with nothing to say looks for Ctrl+C.
constexpr std::chrono::milliseconds kTerminationPoll{250};
// How long the end of a run waits at most for the results database; what
// it has not taken by then is caught up from the log at the next start.
constexpr std::chrono::seconds kResultsFinishLimit{3};

}  // namespace

int runDownload(const CliOptions& options) {
  catchTerminationRequests();
  AttemptLog log;
  if (std::string error; !log.open(options.logFile, options.station, error)) {
    std::fprintf(stderr, "voltrix-cli: %s\n", error.c_str());
    return kExitFileError;
  }
  // The database catches up with the log while the device is flashed.
  std::unique_ptr<ResultsFeed> results = options.dbFile && options.logFile
                                             ? startResultsFeed(*options.dbFile, *options.logFile)
                                             : nullptr;
  const RunTimes since = RunTimes::now();
  // Results go to standard output, everything else to standard error. Only
  // the normal output shows the run as it goes; a trace's lines would tear
  // a line redrawn in place, so with one the run is shown in plain lines.
  const bool normal = options.output == CliOptions::Output::Normal;
  ConsoleDisplay display(normal ? stderr : nullptr,
                         options.verbose ? 0 : redrawableTerminalColumns());
  // Refusals and hints: on standard error unless only the summary line is
  // wanted.
  const auto note = [&](const std::string& text) {
    if (text.empty()) return;
    if (normal) {
      display.note(text);
    } else if (options.output == CliOptions::Output::Json) {
      std::fprintf(stderr, "%s\n", text.c_str());
      std::fflush(stderr);
    }
  };

  DownloadState state;
  state.setDefaults();
  DeviceRun::Parts parts;
  parts.timings = linkTimingsFor(options);
  if (options.verbose) parts.trace = std::make_shared<ConsoleTrace>(stderr, std::string());
  parts.onMessage = [&display](const DeviceRun& run, const WorkerMessage&) {
    display.show(run.statusText(), run.progress());
  };
  DeviceRun run(state, std::move(parts));

  // --port names the device node; otherwise the device map names the port,
  // as it does for the dialog.
  std::unique_ptr<DeviceMap> deviceMap = options.port ? nullptr : systemDeviceMap();
  RunRequest request;
  request.port = options.port ? RunPort::node(*options.port) : RunPort::fromDeviceMap(*deviceMap);
  request.imagePath = options.image;
  request.since = since;

  RunSummary& summary = run.summary();
  // A run that started is recorded before its summary is printed, so that
  // the summary can say when the record could not be kept.
  const auto finish = [&](bool recorded) {
    display.finish();
    summary.port = run.portNode();
    if (recorded && log.enabled()) {
      AttemptLog::Recorded recorded = log.record(
          {usbSlotOf(summary.port), summary, since.startedAt, std::chrono::system_clock::now()});
      const std::optional<LogRecordLost>& lost = recorded.lost;
      summary.logRecordKept = !lost;
      if (lost) {
        reportLostRecord(*lost);
        noteLogRecordLost(summary);
      }
      if (results) results->submit(std::move(recorded.line), !lost);
    }
    if (results) {
      results->finish(kResultsFinishLimit);
      ResultsReport report;
      for (const ResultsNotice& notice : results->takeNotices()) report.tell(notice);
    }
    printSummary(options, summary);
    return summary.exitCode;
  };

  if (log.enabled()) {
    std::error_code error;
    const auto path = std::filesystem::absolute(pathFromUtf8(options.image), error);
    log.setImage(error ? options.image : utf8FromPath(path), sha256OfFile(options.image));
  }
  if (const Refusal refusal = run.start(request); refusal != Refusal::None) {
    // What the dialog shows in a message box: caption, then text.
    const char* caption = refusalCaption(refusal);
    note(std::string(caption != nullptr ? caption : "voltrix-cli") + " " + refusalText(refusal));
    note(run.hints());
    return finish(false);
  }
  while (!run.finished()) {
    if (terminationRequested()) run.cancel();
    run.waitForNews(kTerminationPoll);
    run.pump(std::time(nullptr));
  }
  note(run.hints());
  return finish(true);
}

}  // namespace voltrix::cli

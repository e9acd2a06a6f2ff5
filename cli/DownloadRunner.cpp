#include "cli/DownloadRunner.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "control/DownloadCommand.h"
#include "platform/ProcessSignals.h"
#include "control/ThreadWorkerLauncher.h"
#include "record/AttemptLog.h"
#include "cli/ConsoleDisplay.h"
#include "cli/ConsoleTrace.h"
#include "cli/StationConsole.h"
#include "control/ExitCodes.h"
#include "control/Hints.h"
#include "cli/HostSystem.h"
#include "control/Outcome.h"
#include "control/RunPieces.h"
#include "control/RunSummary.h"
#include "record/SummaryJson.h"
#include "record/Sha256.h"
#include "record/SlotNames.h"
#include "engine/MessageQueue.h"
#include "engine/SystemTexts.h"
#include "platform/Utf8Path.h"
#include "port/PortOpenFailure.h"
#include "link/SerialLinkPhases.h"

namespace voltrix::cli {

namespace {

// --port: the device map names COM1, and COM1 is the given node.
class PortOptionDeviceMap final : public DeviceMap {
 public:
  DeviceMapValue queryValue(const std::string&, const std::string&) const override {
    return {DeviceMapStatus::Ok, "COM1"};
  }
};

// A message box's text is an error text: it goes where the notes go.
class ConsoleBoxes final : public MessageBoxPresenter {
 public:
  explicit ConsoleBoxes(std::function<void(const std::string&)> note) : note_(std::move(note)) {}
  void showMessageBox(const char* text, const char* caption) override {
    note_(std::string(caption != nullptr ? caption : "voltrix-cli") + " " + text);
  }

 private:
  std::function<void(const std::string&)> note_;
};

// The device node a run used or would have used.
std::string portOfRun(const CliOptions& options, const ComResolver& resolver, int portNumber) {
  if (options.port) return *options.port;
  if (portNumber < 1) return {};
  return resolver.resolve(static_cast<std::uint32_t>(portNumber)).devicePath;
}

void printSummary(const CliOptions& options, const RunSummary& summary) {
  const std::string line =
      options.output == CliOptions::Output::Json ? summaryJson(summary) : summaryLine(summary);
  std::fprintf(stdout, "%s\n", line.c_str());
  std::fflush(stdout);
}

}  // namespace

int runDownload(const CliOptions& options) {
  catchTerminationRequests();
  AttemptLog log;
  if (std::string error; !log.open(options.logFile, options.station, error)) {
    std::fprintf(stderr, "voltrix-cli: %s\n", error.c_str());
    return kExitFileError;
  }
  const auto started = std::chrono::steady_clock::now();
  const auto startedAt = std::chrono::system_clock::now();
  // Results go to standard output, everything else to standard error. Only
  // the normal output shows the run as it goes; a trace's lines would tear
  // a line redrawn in place, so with one the run is shown in plain lines.
  const bool normal = options.output == CliOptions::Output::Normal;
  ConsoleDisplay display(normal ? stderr : nullptr,
                         options.verbose ? 0 : redrawableTerminalColumns());
  // Error texts and hints: on standard error unless only the summary line
  // is wanted.
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
  const LinkTimings timings = linkTimingsFor(options);
  auto resolver = options.port ? fixedDeviceResolver(*options.port) : systemComResolver();
  auto link = std::make_shared<SerialLinkPhases>(resolver, timings);
  if (options.verbose) link->setTrace(std::make_shared<ConsoleTrace>(stderr, std::string()));
  auto queue = std::make_shared<MessageQueue>();
  std::unique_ptr<DeviceMap> deviceMap =
      options.port ? std::make_unique<PortOptionDeviceMap>() : systemDeviceMap();
  ConsoleBoxes boxes(note);
  ThreadWorkerLauncher launcher;
  DownloadCommand command(state, *deviceMap, boxes, launcher, queue, link);
  command.setImagePath(options.image);

  RunSummary summary;
  // A run that started is recorded before its summary is printed, so that
  // the summary can say when the record could not be kept.
  const auto finish = [&](int exitCode, bool recorded) {
    display.finish();
    summary.exitCode = exitCode;
    summary.port = portOfRun(options, *resolver, command.registryPort());
    summary.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    summary.status = display.statusText();
    if (recorded && log.enabled()) {
      const std::optional<LogRecordLost> lost = log.record(
          {usbSlotOf(summary.port), summary, startedAt, std::chrono::system_clock::now()});
      summary.logRecordKept = !lost;
      if (lost) {
        reportLostRecord(*lost);
        noteLogRecordLost(summary);
      }
    }
    printSummary(options, summary);
    return summary.exitCode;
  };

  if (log.enabled()) {
    std::error_code error;
    const auto path = std::filesystem::absolute(pathFromUtf8(options.image), error);
    log.setImage(error ? options.image : utf8FromPath(path), sha256OfFile(options.image));
  }
  if (const Refusal refusal = command.OnDownload(); refusal != Refusal::None) {
    const std::string hint = hintForRefusal(refusal, state, options.image);
    note(hint);
    summarizeRefusal(summary, refusal);
    addHint(summary, hint);
    return finish(summary.exitCode, false);
  }
  summary.segmentsInImage = state.segmentCount;

  // The first failure a run reports decides the exit code.
  RunFailure failure = RunFailure::None;
  VerifiedSegments verified;
  auto handle = [&](const WorkerMessage& message) {
    display.show(message, state, std::time(nullptr));
    verified.see(message);
    if (failure == RunFailure::None) failure = message.failure;
  };
  for (;;) {
    if (terminationRequested()) state.cancelRequested = true;
    if (auto message = queue->next(std::chrono::milliseconds(100))) {
      handle(*message);
      continue;
    }
    if (!launcher.running()) {
      // The worker is gone: take what it posted last, then stop.
      for (const WorkerMessage& late : queue->drain()) handle(late);
      break;
    }
  }
  launcher.joinAll();
  if (failure == RunFailure::PortOpen) {
    std::string mapValue;
    if (!options.port) {
      mapValue = describeDeviceMapValue(command.registryValue(), command.registryPort());
    }
    const std::string hint = hintForPort(link->openFailures());
    note(mapValue);
    note(hint);
    addHint(summary, mapValue);
    addHint(summary, hint);
  }
  if (failure != RunFailure::None) note(describeKeptFiles(state));
  const int exitCode = exitCodeOfRun(failure, state);
  summarizeRun(summary, exitCode, failure, verified, state, link->openFailures().failure());
  return finish(exitCode, true);
}

}  // namespace voltrix::cli

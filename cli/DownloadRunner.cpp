#include "cli/DownloadRunner.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "app/DownloadCommand.h"
#include "app/ThreadWorkerLauncher.h"
#include "cli/ConsoleDisplay.h"
#include "cli/ExitCodes.h"
#include "cli/HostSystem.h"
#include "cli/Outcome.h"
#include "engine/MessageQueue.h"
#include "serial/PortOpenFailure.h"
#include "serial/SerialLinkPhases.h"

namespace voltrix::cli {

namespace {

// --port: the device map names COM1, and COM1 is the given node.
class PortOptionDeviceMap final : public DeviceMap {
 public:
  DeviceMapValue queryValue(const std::string&, const std::string&) const override {
    return {DeviceMapStatus::Ok, "COM1"};
  }
};

class ConsoleBoxes final : public MessageBoxPresenter {
 public:
  explicit ConsoleBoxes(ConsoleDisplay& display) : display_(display) {}
  void showMessageBox(const char* text, const char* caption) override {
    display_.note(std::string(caption != nullptr ? caption : "voltrix-cli") + " " + text);
  }

 private:
  ConsoleDisplay& display_;
};

// A sentence the operator can act on, for the ways a run can fail to start.
std::string hintForRefusal(Refusal refusal) {
  switch (refusal) {
    case Refusal::DriverNotInstalled:
      return "No Zetak device found: no USB virtual COM port is attached. Plug the device in, "
             "or name its port with --port DEVICE.";
    case Refusal::RegistryDamaged:
      return "The serial device map cannot be read (check $VOLTRIX_SERIALCOMM).";
    case Refusal::ImageMissing:
      return "sysbin.bin was not found in " + std::filesystem::current_path().string() + ".";
    case Refusal::None:
    case Refusal::Busy:
    case Refusal::ImageEmpty:
    case Refusal::TooManySegments:
    case Refusal::ImageUnreadable:
    case Refusal::WorkerNotStarted:
      return {};
  }
  return {};
}

std::string hintForPort(const OpenFailureRecord& failures) {
  std::string hint = describeOpenFailure(failures.last());
  if (failures.failure() == OpenFailure::PortBusy && modemManagerRunning()) {
    hint +=
        " ModemManager is running: it is known to grab USB modems' ports for a few seconds "
        "after they appear; wait and try again, or stop it.";
  }
  return hint;
}

}  // namespace

int runDownload(const CliOptions& options) {
  catchInterrupts();
  ConsoleDisplay display(stdout, standardOutputIsTerminal());

  DownloadState state;
  state.setDefaults();
  LinkTimings timings;
  if (options.timeoutSeconds) {
    timings.handshakeLimit =
        std::chrono::milliseconds(static_cast<long long>(*options.timeoutSeconds * 1000.0 + 0.5));
  }
  auto resolver = options.port ? fixedDeviceResolver(*options.port) : systemComResolver();
  auto link = std::make_shared<SerialLinkPhases>(resolver, timings);
  auto queue = std::make_shared<MessageQueue>();
  std::unique_ptr<DeviceMap> deviceMap =
      options.port ? std::make_unique<PortOptionDeviceMap>() : systemDeviceMap();
  ConsoleBoxes boxes(display);
  ThreadWorkerLauncher launcher;
  DownloadCommand command(state, *deviceMap, boxes, launcher, queue, link);

  if (const Refusal refusal = command.OnDownload(); refusal != Refusal::None) {
    const std::string hint = hintForRefusal(refusal);
    if (!hint.empty()) display.note(hint);
    return exitCodeFor(refusal);
  }

  // The first failure a run reports decides the exit code.
  RunFailure failure = RunFailure::None;
  auto handle = [&](const WorkerMessage& message) {
    display.show(message, state, std::time(nullptr));
    if (failure == RunFailure::None) failure = message.failure;
  };
  for (;;) {
    if (interruptRequested()) state.cancelRequested = true;
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
  if (failure == RunFailure::PortOpen) display.note(hintForPort(link->openFailures()));
  int exitCode = exitCodeFor(failure);
  if (exitCode == kExitOk && state.cursor != state.segmentCount) exitCode = kExitInternal;
  display.finish();
  return exitCode;
}

}  // namespace voltrix::cli

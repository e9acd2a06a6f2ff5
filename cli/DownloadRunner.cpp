#include "cli/DownloadRunner.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/DownloadCommand.h"
#include "app/ThreadWorkerLauncher.h"
#include "cli/ConsoleDisplay.h"
#include "cli/ExitCodes.h"
#include "cli/Outcome.h"
#include "engine/MessageQueue.h"
#include "engine/SystemTexts.h"
#include "serial/SerialLinkPhases.h"

namespace voltrix::cli {

namespace {

std::atomic<bool> interrupted{false};

void onInterrupt(int) {
  interrupted = true;
}

// Ctrl+C and a polite kill cancel the run instead of ending the process, so
// the port is closed and the temporary files are left in a known state.
void catchInterrupts() {
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

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
    shown = text;
    display_.note(std::string(caption != nullptr ? caption : "voltrix-cli") + " " + text);
  }
  const char* shown = nullptr;

 private:
  ConsoleDisplay& display_;
};

bool modemManagerRunning() {
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return false;
  bool found = false;
  while (dirent* entry = ::readdir(proc)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    std::ifstream comm(std::string("/proc/") + entry->d_name + "/comm");
    std::string name;
    if (std::getline(comm, name) && name == "ModemManager") {
      found = true;
      break;
    }
  }
  ::closedir(proc);
  return found;
}

// A sentence the operator can act on, for the ways a run can fail to start.
std::string hintForBox(const char* text) {
  if (std::strcmp(text, texts::kDriverNotInstalled) == 0) {
    return "No Zetak device found: no USB virtual COM port is attached. Plug the device in, "
           "or name its port with --port DEVICE.";
  }
  if (std::strcmp(text, texts::kRegistryDamaged) == 0) {
    return "The serial device map cannot be read (check $VOLTRIX_SERIALCOMM).";
  }
  if (std::strcmp(text, texts::kSystemFileNotFound) == 0) {
    return "sysbin.bin was not found in " + std::filesystem::current_path().string() + ".";
  }
  return {};
}

std::string hintForPort(const OpenFailureRecord& failures) {
  std::string hint = describeOpenFailure(failures.failure(), failures.detail());
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
  ConsoleDisplay display(stdout, ::isatty(STDOUT_FILENO) == 1);

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

  command.OnDownload();
  if (boxes.shown != nullptr) {
    const std::string hint = hintForBox(boxes.shown);
    if (!hint.empty()) display.note(hint);
    return exitCodeForBox(boxes.shown);
  }

  int exitCode = kExitOk;
  // The first failure a run reports decides the exit code.
  auto handle = [&](const WorkerMessage& message) {
    display.show(message, state, std::time(nullptr));
    if ((message.id == UWM_ERROR || message.id == UWM_PORT_FAIL) && exitCode == kExitOk) {
      exitCode = exitCodeForFailure(message.id, message.text);
    }
  };
  for (;;) {
    if (interrupted) state.cancelRequested = true;
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
  if (exitCode == kExitPortUnavailable) display.note(hintForPort(link->openFailures()));
  if (exitCode == kExitOk && state.cursor != state.segmentCount) exitCode = kExitInternal;
  display.finish();
  return exitCode;
}

}  // namespace voltrix::cli

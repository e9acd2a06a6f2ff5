// voltrix: the operator's dialog for writing firmware into a Zetak device.

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "control/DeviceMap.h"
#include "control/DialogOptions.h"
#include "control/ThreadWorkerLauncher.h"
#include "gui/qt/DownloaderApp.h"
#include "link/SerialLinkPhases.h"
#include "platform/ProcessSignals.h"

namespace {

std::vector<std::string> argumentsOf(int argc, char** argv) {
  return std::vector<std::string>(argv + std::min(argc, 1), argv + argc);
}

}  // namespace

int main(int argc, char** argv) {
  voltrix::ensureStandardStreams();
  // Help and the version need no display: they are answered before the
  // toolkit starts, whatever else the line holds.
  if (const auto early = voltrix::parseDialogOptions(argumentsOf(argc, argv)); early.options) {
    if (const auto status = voltrix::answerWithoutDialog(*early.options)) return *status;
  }
  // Ctrl+C, a polite kill or a closed terminal then close the dialog as the
  // operator would, so a run under way ends cleanly.
  voltrix::catchTerminationRequests();
  // The toolkit takes its own options (-platform, -display, ...) out of argv.
  voltrix::DownloaderApp app(argc, argv);
  const auto parsed = voltrix::parseDialogOptions(argumentsOf(argc, argv));
  if (!parsed.options) {
    std::fprintf(stderr, "voltrix: %s\nTry 'voltrix --help'.\n", parsed.error.c_str());
    return 2;
  }
  voltrix::DownloadSeams seams;
  seams.deviceMap = voltrix::systemDeviceMap();
  seams.link = std::make_shared<voltrix::SerialLinkPhases>();
  seams.launcher = std::make_unique<voltrix::ThreadWorkerLauncher>();
  seams.imagePath = parsed.options->imagePath;
  return app.runMainDialog(std::move(seams));
}

// voltrix: the operator's dialog for writing firmware into a Zetak device.

#include <memory>
#include <utility>

#include "app/DeviceMap.h"
#include "app/DownloaderApp.h"
#include "app/ProcessSignals.h"
#include "app/ThreadWorkerLauncher.h"
#include "serial/SerialLinkPhases.h"

int main(int argc, char** argv) {
  voltrix::ensureStandardStreams();
  // Ctrl+C, a polite kill or a closed terminal then close the dialog as the
  // operator would, so a run under way ends cleanly.
  voltrix::catchTerminationRequests();
  voltrix::DownloaderApp app(argc, argv);
  voltrix::DownloadSeams seams;
  seams.deviceMap = voltrix::systemDeviceMap();
  seams.link = std::make_shared<voltrix::SerialLinkPhases>();
  seams.launcher = std::make_unique<voltrix::ThreadWorkerLauncher>();
  return app.runMainDialog(std::move(seams));
}

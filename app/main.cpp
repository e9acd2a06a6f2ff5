// voltrix: the operator's dialog for writing firmware into a Zetak device.

#include <memory>
#include <utility>

#include "app/DeviceMap.h"
#include "app/DownloaderApp.h"
#include "app/ThreadWorkerLauncher.h"
#include "serial/SerialLinkPhases.h"

int main(int argc, char** argv) {
  voltrix::DownloaderApp app(argc, argv);
  voltrix::DownloadSeams seams;
  seams.deviceMap = voltrix::systemDeviceMap();
  seams.link = std::make_shared<voltrix::SerialLinkPhases>();
  seams.launcher = std::make_unique<voltrix::ThreadWorkerLauncher>();
  return app.runMainDialog(std::move(seams));
}

// voltrix.exe: the operator's dialog for writing firmware into a Zetak device.

#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <utility>

#include "app/DeviceMap.h"
#include "app/MainDialog_win32.h"
#include "app/ProcessSignals.h"
#include "app/ThreadWorkerLauncher.h"
#include "serial/SerialLinkPhases.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  voltrix::ensureStandardStreams();
  voltrix::catchTerminationRequests();
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  voltrix::NativeDialogSeams seams;
  seams.deviceMap = voltrix::systemDeviceMap();
  seams.link = std::make_shared<voltrix::SerialLinkPhases>();
  seams.launcher = std::make_unique<voltrix::ThreadWorkerLauncher>();
  seams.endRequested = &voltrix::terminationRequested;
  // The dialog's result means nothing: the program ends when it closes.
  voltrix::runNativeMainDialog(instance, std::move(seams));
  return 0;
}

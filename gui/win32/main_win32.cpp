// voltrix.exe: the operator's dialog for writing firmware into a Zetak device.

#include <windows.h>
// Needs the types of windows.h.
#include <commctrl.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "control/DeviceMap.h"
#include "control/DialogOptions.h"
#include "control/ThreadWorkerLauncher.h"
#include "gui/win32/MainDialog_win32.h"
#include "gui/win32/WorkFolder_win32.h"
#include "link/SerialLinkPhases.h"
#include "platform/ProcessSignals.h"
#include "platform/ProgramArguments.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  voltrix::ensureStandardStreams();
  // The UTF-16 command line, split as a console program's would be.
  const std::vector<std::string> arguments = voltrix::programArguments(0, nullptr);
  const voltrix::ParsedDialogOptions parsed = voltrix::parseDialogOptions(arguments);
  if (!parsed.options) {
    std::fprintf(stderr, "voltrix: %s\nTry 'voltrix --help'.\n", parsed.error.c_str());
    return 2;
  }
  if (const auto status = voltrix::answerWithoutDialog(*parsed.options)) return *status;
  voltrix::catchTerminationRequests();
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  voltrix::NativeDialogSeams seams;
  seams.deviceMap = voltrix::systemDeviceMap();
  seams.link = std::make_shared<voltrix::SerialLinkPhases>();
  seams.launcher = std::make_unique<voltrix::ThreadWorkerLauncher>();
  seams.endRequested = &voltrix::terminationRequested;
  seams.imagePath = parsed.options->imagePath;
  seams.workFolderProblem = voltrix::settleWorkFolder(*parsed.options);
  // The dialog's result means nothing: the program ends when it closes.
  voltrix::runNativeMainDialog(instance, std::move(seams));
  return 0;
}

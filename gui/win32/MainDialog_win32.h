#pragma once
// The operator's dialog on Windows, built from the resource templates:
// banner, DOWNLOAD, note, status line and progress bar. DOWNLOAD starts the
// device's run through the shared DOWNLOAD command; the worker's messages
// arrive as posted window messages and are shown through the shared status
// display.

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "control/DeviceMap.h"
#include "control/WorkerLauncher.h"
#include "engine/LinkPhases.h"

namespace voltrix {

struct NativeDialogSeams {
  std::unique_ptr<DeviceMap> deviceMap;
  std::shared_ptr<LinkPhases> link;
  // Owns the worker thread; destroying it waits for a run the dialog has
  // asked to stop.
  std::unique_ptr<WorkerLauncher> launcher;
  // Whether the program has been asked to end; the dialog then closes as the
  // operator would.
  std::function<bool()> endRequested;
  // The image DOWNLOAD writes.
  std::string imagePath = "sysbin.bin";
  // Why the dialog works in a folder other than Documents\Voltrix where it
  // meant to; named with the folder when the image is missing there.
  std::string workFolderProblem;
};

// Shows the dialog modally until the operator closes it.
INT_PTR runNativeMainDialog(HINSTANCE instance, NativeDialogSeams seams);

}  // namespace voltrix

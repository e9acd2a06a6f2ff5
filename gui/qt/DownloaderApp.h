#pragma once
// The application object: owns the one DownloadState of the program, shows
// the main dialog modally and ends the program when it closes.

#include <QApplication>
#include <functional>
#include <memory>
#include <string>

#include "control/DeviceMap.h"
#include "control/WorkerLauncher.h"
#include "engine/DownloadState.h"
#include "engine/LinkPhases.h"
#include "platform/ProcessSignals.h"

namespace voltrix {

// What the DOWNLOAD command needs from the machine. The program passes the
// real ones; a test can pass a simulated device's.
struct DownloadSeams {
  std::unique_ptr<DeviceMap> deviceMap;
  std::shared_ptr<LinkPhases> link;
  // Owns the worker thread; destroying it cancels and joins a run.
  std::unique_ptr<WorkerLauncher> launcher;
  // Whether the program has been asked to end (a signal); the dialog then
  // closes itself as the operator would.
  std::function<bool()> endRequested = &voltrix::terminationRequested;
  // The image DOWNLOAD writes, and where its run folders are made.
  std::string imagePath = "sysbin.bin";
  std::string runFolderParent = ".";
};

class DownloaderApp final : public QApplication {
  Q_OBJECT

 public:
  DownloaderApp(int& argc, char** argv);

  DownloadState& state() { return state_; }

  // Runs the main dialog until the operator closes it or the program is
  // asked to end; a run still under way is cancelled and waited for before
  // this returns, however the dialog closed. The dialog's result is of no
  // interest: the program simply ends.
  int runMainDialog(DownloadSeams seams);

 private:
  DownloadState state_;
};

}  // namespace voltrix

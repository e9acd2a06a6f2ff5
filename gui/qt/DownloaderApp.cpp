#include "gui/qt/DownloaderApp.h"

#include <utility>

#include "control/DeviceRun.h"
#include "control/DownloadCommand.h"
#include "gui/qt/AppIcon.h"
#include "gui/qt/MainDialog.h"
#include "gui/qt/QtMessageBoxes.h"
#include "gui/qt/QtMessageSink.h"

namespace voltrix {

DownloaderApp::DownloaderApp(int& argc, char** argv) : QApplication(argc, argv) {
  setWindowIcon(applicationIcon());
  setDesktopFileName(QStringLiteral("voltrix"));
}

int DownloaderApp::runMainDialog(DownloadSeams seams) {
  MainDialog dialog(state_);
  QtMessageBoxes boxes(&dialog);
  // The worker's messages go to the dialog as queued events; the dialog
  // shows them.
  DeviceRun::Parts parts;
  parts.link = seams.link;
  parts.launcher = seams.launcher.get();
  parts.sink = dialog.sink();
  DeviceRun run(state_, std::move(parts));
  DownloadCommand command(run, *seams.deviceMap, boxes);
  command.setImagePath(seams.imagePath);
  command.setRunFolderParent(seams.runFolderParent);
  // The box of a missing image names the folder it was looked for in.
  command.nameWhereImageWasLookedFor();
  dialog.setDownloadHandler([&command] { command.OnDownload(); });
  dialog.watchForTermination(std::move(seams.endRequested));

  dialog.exec();

  // Every way of closing went through done(), which has already asked the
  // run to stop and stopped listening; an exec() ended by the application
  // quitting did not, hence once more here. The launcher then waits for the
  // worker while everything it uses still exists: the state is ours, the
  // sink and the link are shared with the worker, and the dialog, the boxes,
  // the run and the command it never touches go only after this.
  run.cancel();
  dialog.detachSink();
  seams.launcher.reset();
  return 0;
}

}  // namespace voltrix

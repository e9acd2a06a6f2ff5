#include "app/DownloaderApp.h"

#include <utility>

#include "app/AppIcon.h"
#include "app/MainDialog.h"
#include "app/QtMessageBoxes.h"
#include "app/QtMessageSink.h"

namespace voltrix {

DownloaderApp::DownloaderApp(int& argc, char** argv) : QApplication(argc, argv) {
  setWindowIcon(applicationIcon());
  setDesktopFileName(QStringLiteral("voltrix"));
}

int DownloaderApp::runMainDialog(DownloadSeams seams) {
  MainDialog dialog(state_);
  QtMessageBoxes boxes(&dialog);
  DownloadCommand command(state_, *seams.deviceMap, boxes, *seams.launcher, dialog.sink(),
                          seams.link);
  dialog.setDownloadHandler([&command] { command.OnDownload(); });

  dialog.exec();

  // The dialog has already asked the run to stop and stopped listening;
  // the launcher waits for the worker while everything it uses still exists.
  state_.cancelRequested = true;
  dialog.detachSink();
  seams.launcher.reset();
  return 0;
}

}  // namespace voltrix

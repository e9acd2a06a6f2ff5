#pragma once
// The program's own dialog, run by the application object the way main()
// runs it, with a test's script played from inside the dialog's modal loop.

#include <chrono>
#include <functional>

#include "gui/qt/DownloaderApp.h"
#include "gui/qt/MainDialog.h"
#include "tests/gui/qt/QtTestSupport.h"

namespace voltrix::test {

// The test program's application object, made by its main().
DownloaderApp& app();

// The visible main dialog, if there is one.
MainDialog* findMainDialog();

// Runs app().runMainDialog(seams) and plays `script` once the dialog is up;
// the script ends by closing the dialog. One that is still open after
// `watchdog` is closed with -1, so a broken script cannot hang the suite.
// Returns runMainDialog's result.
int runDialogScript(DownloadSeams seams, const std::function<void(MainDialog&)>& script,
                    std::chrono::milliseconds watchdog = 4 * kUiDeadline);

}  // namespace voltrix::test

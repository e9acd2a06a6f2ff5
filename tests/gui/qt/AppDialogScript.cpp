#include "tests/gui/qt/AppDialogScript.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <utility>

namespace voltrix::test {

MainDialog* findMainDialog() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* dialog = qobject_cast<MainDialog*>(widget); dialog && dialog->isVisible()) {
      return dialog;
    }
  }
  return nullptr;
}

int runDialogScript(DownloadSeams seams, const std::function<void(MainDialog&)>& script,
                    std::chrono::milliseconds watchdog) {
  bool played = false;
  QTimer::singleShot(0, [&] {
    MainDialog* dialog = findMainDialog();
    ASSERT_NE(dialog, nullptr);
    QTimer::singleShot(watchdog, dialog, [dialog] { dialog->done(-1); });
    script(*dialog);
    played = true;
  });
  const int result = app().runMainDialog(std::move(seams));
  EXPECT_TRUE(played);
  return result;
}

}  // namespace voltrix::test

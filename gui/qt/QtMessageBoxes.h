#pragma once
// The DOWNLOAD command's message boxes as Qt shows them: modal to the owner,
// one OK button, no icon, the text exactly as given.

#include "control/DownloadCommand.h"

class QWidget;

namespace voltrix {

class QtMessageBoxes final : public MessageBoxPresenter {
 public:
  explicit QtMessageBoxes(QWidget* owner);

  // Returns when the operator has closed the box.
  void showMessageBox(const char* text, const char* caption) override;

 private:
  QWidget* owner_;
};

}  // namespace voltrix

#pragma once
// The About box: icon, program name and version, one Enter button.

#include <QDialog>

class QLabel;
class QPushButton;

namespace voltrix {

class AboutDialog final : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent = nullptr);

  QLabel* iconLabel() const { return icon_; }
  QLabel* versionLabel() const { return version_; }
  QPushButton* enterButton() const { return enter_; }

 private:
  QLabel* icon_;
  QLabel* version_;
  QPushButton* enter_;
};

}  // namespace voltrix

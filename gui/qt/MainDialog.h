#pragma once
// The operator's window: title banner, DOWNLOAD, a fixed note, one status
// line and a progress bar. Worker messages reach it as queued events through
// its sink and are shown through StatusDisplay; DOWNLOAD calls whatever
// handler the application wires in.

#include <QDialog>
#include <functional>
#include <memory>

#include "control/StatusDisplay.h"
#include "engine/DownloadState.h"

class QAction;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace voltrix {

class QtMessageSink;

class MainDialog final : public QDialog {
  Q_OBJECT

 public:
  explicit MainDialog(DownloadState& state, QWidget* parent = nullptr);
  ~MainDialog() override;

  void setDownloadHandler(std::function<void()> onDownload);

  // Where the worker posts; stays valid (and harmless) after the dialog is gone.
  std::shared_ptr<QtMessageSink> sink() const { return sink_; }
  // From here on nothing the worker posts reaches this dialog.
  void detachSink();

  // Closing asks a run under way to stop and stops listening to the worker.
  void done(int result) override;

  // From now on the dialog asks `requested` every tenth of a second whether
  // the program is to end, and once it is, closes itself and whatever box or
  // menu is open over it, as the operator would.
  void watchForTermination(std::function<bool()> requested);

  // Opens the About box modally.
  void showAbout();
  QAction* aboutAction() const { return aboutAction_; }

  QLabel* titleLabel() const { return title_; }
  QPushButton* downloadButton() const { return download_; }
  QGroupBox* groupFrame() const { return group_; }
  QLabel* statusLabel() const { return status_; }
  QProgressBar* progressBar() const { return progress_; }
  QLabel* noteLabel() const { return note_; }

 signals:
  // After a worker message has been shown; `id` is its number.
  void workerMessageApplied(quint32 id);

 protected:
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void createControls();
  void SetupFonts(int height, int width, int weight);
  void applyWorkerMessage(const WorkerMessage& message);
  void showContextMenu(const QPoint& globalPos);
  void closeForTermination();

  DownloadState& state_;
  StatusDisplay display_;
  std::shared_ptr<QtMessageSink> sink_;
  std::function<void()> onDownload_;
  std::function<bool()> terminationRequested_;

  QLabel* title_ = nullptr;
  QPushButton* download_ = nullptr;
  QGroupBox* group_ = nullptr;
  QLabel* status_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* note_ = nullptr;
  QAction* aboutAction_ = nullptr;
  QTimer* terminationWatch_ = nullptr;
};

}  // namespace voltrix

#include "gui/qt/MainDialog.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <ctime>
#include <utility>

#include "gui/qt/AboutDialog.h"
#include "gui/qt/AppIcon.h"
#include "gui/qt/DialogUnits.h"
#include "gui/qt/FontFitting.h"
#include "gui/qt/QtMessageSink.h"
#include "gui/qt/StatusLine.h"

namespace voltrix {

namespace {

constexpr int kProgressMax = 100;
constexpr int kTemplateWidth = 265;
constexpr int kTemplateHeight = 173;
constexpr std::chrono::milliseconds kTerminationPollInterval{100};

QLabel* sunkenLabel(const QString& text, Qt::Alignment alignment, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(alignment);
  label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  return label;
}

// Arial's character cell (ascent 1854 + descent 434) in units of its em (2048).
constexpr int kArialCellUnits = 1854 + 434;
constexpr int kArialEmUnits = 2048;

// The banner and the button use "arial"; where Arial itself is missing the
// font system's substitute for it stands in. The heights are character-cell
// heights, as the fonts were always asked for, while Qt sizes a font by its
// em; they are converted with Arial's own proportions so that a substitute
// with looser line spacing does not shrink the text.
QFont arialFont(int cellHeight, int width, int weight) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize((cellHeight * kArialEmUnits + kArialCellUnits / 2) / kArialCellUnits);
  font.setWeight(QFont::Weight(weight));
  if (width > 0) {
    const int naturalWidth = QFontMetrics(font).averageCharWidth();
    if (naturalWidth > 0) font.setStretch(width * 100 / naturalWidth);
  }
  return font;
}

}  // namespace

MainDialog::MainDialog(DownloadState& state, QWidget* parent)
    // No maximise button: the window keeps the template's size.
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      state_(state),
      sink_(std::make_shared<QtMessageSink>(this)) {
  setWindowTitle(QStringLiteral("Pc platform COM download tool"));
  // On a screen too small for the template (or scaled up too far) the whole
  // layout shrinks with its font: cut to the screen instead, the window
  // would lose the status line and the bar at its bottom.
  setFont(templateFontWithin(clientRoomOnScreen(*this), kTemplateWidth, kTemplateHeight));
  setWindowIcon(applicationIcon());

  createControls();
  // A modal frame cannot be resized: every control sits where the template
  // put it, and a smaller window would hide those at the bottom.
  setFixedSize(DialogUnits(font()).size(kTemplateWidth, kTemplateHeight));
  setSizeGripEnabled(false);

  // Linux window managers own the system menu, so the About entry lives in
  // the dialog's own context menu and on F1.
  aboutAction_ = new QAction(QStringLiteral("关于 Voltrix(&A)..."), this);
  aboutAction_->setShortcut(QKeySequence(Qt::Key_F1));
  aboutAction_->setShortcutContext(Qt::WindowShortcut);
  connect(aboutAction_, &QAction::triggered, this, &MainDialog::showAbout);
  addAction(aboutAction_);

  SetupFonts(23, 0, 700);
}

MainDialog::~MainDialog() {
  detachSink();
}

void MainDialog::createControls() {
  const DialogUnits units(font());

  // Created in the template's tab order, which is also the focus chain.
  title_ = sunkenLabel(QStringLiteral("Zetak V1.0"), Qt::AlignHCenter | Qt::AlignTop, this);
  title_->setObjectName(QStringLiteral("IDC_TITLE"));
  title_->setGeometry(units.rect(7, 7, 251, 35));

  download_ = new QPushButton(QStringLiteral("DOWNLOAD"), this);
  download_->setObjectName(QStringLiteral("IDC_DOWNLOAD"));
  download_->setGeometry(units.rect(84, 56, 94, 31));
  // Enter closes the dialog; it must never start a download.
  download_->setAutoDefault(false);
  download_->setDefault(false);
  download_->setFocusPolicy(Qt::StrongFocus);
  connect(download_, &QPushButton::clicked, this, [this] {
    if (onDownload_) onDownload_();
  });

  group_ = new QGroupBox(this);
  group_->setObjectName(QStringLiteral("groupFrame"));
  group_->setGeometry(units.rect(7, 44, 251, 53));

  status_ = new StatusLine(this);
  status_->setObjectName(QStringLiteral("IDC_STATUS"));
  status_->setGeometry(units.rect(105, 129, 153, 20));

  progress_ = new QProgressBar(this);
  progress_->setObjectName(QStringLiteral("IDC_PROGRESS"));
  progress_->setGeometry(units.rect(7, 149, 251, 15));
  progress_->setRange(0, kProgressMax);
  progress_->setValue(0);
  progress_->setTextVisible(false);

  note_ = new QLabel(QStringLiteral("Note: This downloading file is just limited to this Zetak!"),
                     this);
  note_->setObjectName(QStringLiteral("note"));
  note_->setTextFormat(Qt::PlainText);
  note_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  note_->setGeometry(units.rect(14, 101, 240, 11));

  // The group frame comes later in the tab order but lies over the button;
  // lifting the button keeps its clicks from landing on the frame.
  download_->raise();
  download_->setFocus();
}

void MainDialog::SetupFonts(int height, int width, int weight) {
  title_->setFont(arialFont(height + 10, width, weight + 10));
  download_->setFont(arialFont(height, width, weight));
  // Arial's stand-in may be wider than Arial; the captions must stay whole.
  fitCaption(*title_);
  fitCaption(*download_);
  state_.setDefaults();
}

void MainDialog::setDownloadHandler(std::function<void()> onDownload) {
  onDownload_ = std::move(onDownload);
}

void MainDialog::detachSink() {
  sink_->detach();
}

void MainDialog::showAbout() {
  AboutDialog about(this);
  about.exec();
}

bool MainDialog::event(QEvent* event) {
  if (WorkerMessageEvent::isWorkerMessage(*event)) {
    if (const auto* posted = dynamic_cast<const WorkerMessageEvent*>(event)) {
      applyWorkerMessage(posted->message());
      return true;
    }
  }
  return QDialog::event(event);
}

void MainDialog::applyWorkerMessage(const WorkerMessage& message) {
  display_.apply(message, state_, std::time(nullptr));
  if (display_.textChanged()) status_->setText(QString::fromUtf8(display_.statusText()));
  progress_->setValue(display_.progressPosition());
  emit workerMessageApplied(message.id);
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
  const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
  if (modifiers == Qt::NoModifier &&
      (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
    // Enter is the dialog's OK: it closes the window, whatever has the focus.
    accept();
    return;
  }
  if (modifiers == Qt::ShiftModifier && event->key() == Qt::Key_F10) {
    // The keyboard's other way to the context menu. The Menu key needs
    // nothing of ours: the window system turns it into a context menu event.
    QWidget* anchor = focusWidget() != nullptr ? focusWidget() : this;
    showContextMenu(anchor->mapToGlobal(anchor->rect().center()));
    return;
  }
  QDialog::keyPressEvent(event);
}

void MainDialog::contextMenuEvent(QContextMenuEvent* event) {
  showContextMenu(event->globalPos());
}

void MainDialog::showContextMenu(const QPoint& globalPos) {
  QMenu menu(this);
  menu.addAction(aboutAction_);
  menu.exec(globalPos);
}

void MainDialog::watchForTermination(std::function<bool()> requested) {
  terminationRequested_ = std::move(requested);
  if (terminationWatch_ == nullptr) {
    terminationWatch_ = new QTimer(this);
    terminationWatch_->setInterval(kTerminationPollInterval);
    connect(terminationWatch_, &QTimer::timeout, this, [this] {
      if (!terminationRequested_ || !terminationRequested_()) return;
      terminationWatch_->stop();
      closeForTermination();
    });
  }
  terminationWatch_->start();
}

void MainDialog::closeForTermination() {
  // A menu or box over the dialog runs an event loop of its own inside the
  // dialog's, and the dialog's loop can only end after it.
  while (QWidget* popup = QApplication::activePopupWidget()) {
    if (!popup->close()) break;
  }
  while (QWidget* modal = QApplication::activeModalWidget()) {
    if (modal == this || !modal->close()) break;
  }
  close();
}

void MainDialog::done(int result) {
  // The program ends with this window: a run still under way is asked to
  // stop, and nothing it posts from now on reaches the dialog.
  state_.cancelRequested = true;
  detachSink();
  QDialog::done(result);
}

}  // namespace voltrix

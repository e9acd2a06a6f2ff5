#include "tests/gui/qt/QtTestSupport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <utility>

namespace voltrix::test {

bool processEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::sendPostedEvents();
  }
  return true;
}

ModalCatcher::ModalCatcher(Kind kind, std::function<bool(QWidget*)> matches,
                           std::function<void(QWidget*)> handler,
                           std::chrono::milliseconds deadline)
    : kind_(kind),
      matches_(std::move(matches)),
      handler_(std::move(handler)),
      deadline_(std::chrono::steady_clock::now() + deadline) {
  timer_.setInterval(5);
  QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
  timer_.start();
}

void ModalCatcher::poll() {
  QWidget* up =
      kind_ == Kind::Modal ? QApplication::activeModalWidget() : QApplication::activePopupWidget();
  if (up != nullptr && up->isVisible() && matches_(up)) {
    timer_.stop();
    caught_ = true;
    handler_(up);
    return;
  }
  if (std::chrono::steady_clock::now() >= deadline_) {
    timer_.stop();
    if (up != nullptr) up->close();
  }
}

}  // namespace voltrix::test

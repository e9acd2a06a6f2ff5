#pragma once
// Headless Qt helpers for the dialog tests: waiting on a condition with a
// deadline, and reaching into a modal box or menu from inside its own event
// loop.

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <functional>

namespace voltrix::test {

inline constexpr std::chrono::milliseconds kUiDeadline{5000};

// Processes events until `done` holds or the deadline passes; returns `done()`.
bool processEventsUntil(const std::function<bool()>& done,
                        std::chrono::milliseconds deadline = kUiDeadline);

// Watches for a modal widget (or popup) of type T and hands it to `handler`
// from inside the nested event loop that shows it. If none appears before
// the deadline, whatever modal widget is up is closed so the test cannot
// hang, and caught() stays false.
class ModalCatcher {
 public:
  enum class Kind { Modal, Popup };

  ModalCatcher(Kind kind, std::function<bool(QWidget*)> matches,
               std::function<void(QWidget*)> handler,
               std::chrono::milliseconds deadline = kUiDeadline);

  bool caught() const { return caught_; }

 private:
  void poll();

  Kind kind_;
  std::function<bool(QWidget*)> matches_;
  std::function<void(QWidget*)> handler_;
  std::chrono::steady_clock::time_point deadline_;
  QTimer timer_;
  bool caught_ = false;
};

template <typename T>
std::function<bool(QWidget*)> isA() {
  return [](QWidget* widget) { return qobject_cast<T*>(widget) != nullptr; };
}

}  // namespace voltrix::test

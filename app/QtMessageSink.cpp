#include "app/QtMessageSink.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdint>

namespace voltrix {

WorkerMessageEvent::WorkerMessageEvent(const WorkerMessage& message)
    : QEvent(QEvent::Type(message.id)), message_(message) {}

bool WorkerMessageEvent::isWorkerMessage(const QEvent& event) {
  const auto type = static_cast<std::uint32_t>(event.type());
  return type >= kFirstWorkerMessage && type <= kLastWorkerMessage;
}

QtMessageSink::QtMessageSink(QObject* receiver)
    : doorbell_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), receiver_(receiver) {
  if (doorbell_) {
    notifier_ = new QSocketNotifier(doorbell_.get(), QSocketNotifier::Read, receiver);
    QObject::connect(notifier_, &QSocketNotifier::activated, [this] { deliverPending(); });
  }
}

QtMessageSink::~QtMessageSink() {
  // A sink that was never detached dies on the receiver's thread (whoever
  // shares it detaches first): the notifier must not call into it again.
  if (notifier_ != nullptr) {
    notifier_->setEnabled(false);
    QObject::disconnect(notifier_, nullptr, nullptr, nullptr);
  }
}

void QtMessageSink::post(const WorkerMessage& message) noexcept {
  {
    const std::lock_guard lock(mutex_);
    if (!attached_) return;
    try {
      pending_.push_back(message);
    } catch (...) {
      return;  // out of memory: a lost status line, not a dead worker
    }
  }
  const std::uint64_t ring = 1;
  // Non-blocking: the counter only fails to grow near 2^64 rings.
  [[maybe_unused]] const ssize_t ignored = ::write(doorbell_.get(), &ring, sizeof ring);
}

void QtMessageSink::detach() {
  {
    const std::lock_guard lock(mutex_);
    attached_ = false;
    pending_.clear();
  }
  if (notifier_ != nullptr) notifier_->setEnabled(false);
  notifier_ = nullptr;
  receiver_ = nullptr;
}

void QtMessageSink::deliverPending() {
  std::uint64_t rings = 0;
  [[maybe_unused]] const ssize_t ignored = ::read(doorbell_.get(), &rings, sizeof rings);
  // Only what has arrived so far: a worker that keeps posting rings again
  // and must not keep the receiver's thread in here.
  std::deque<WorkerMessage> arrived;
  {
    const std::lock_guard lock(mutex_);
    arrived.swap(pending_);
  }
  for (const WorkerMessage& message : arrived) {
    // The receiver may detach while it handles a message (a closing dialog).
    if (receiver_ == nullptr) return;
    WorkerMessageEvent event(message);
    QCoreApplication::sendEvent(receiver_, &event);
  }
}

}  // namespace voltrix

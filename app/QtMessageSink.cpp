#include "app/QtMessageSink.h"

#include <QCoreApplication>
#include <memory>

namespace voltrix {

WorkerMessageEvent::WorkerMessageEvent(const WorkerMessage& message)
    : QEvent(QEvent::Type(message.id)), message_(message) {}

bool WorkerMessageEvent::isWorkerMessage(const QEvent& event) {
  const auto type = static_cast<std::uint32_t>(event.type());
  return type >= kFirstWorkerMessage && type <= kLastWorkerMessage;
}

QtMessageSink::QtMessageSink(QObject* receiver) : receiver_(receiver) {}

void QtMessageSink::post(const WorkerMessage& message) noexcept {
  // The lock is held across postEvent so that detach() cannot return while
  // an event for the receiver is still on its way into the queue; events
  // already queued are discarded by the receiver's own destruction.
  const std::lock_guard lock(mutex_);
  if (receiver_ == nullptr) return;
  auto event = std::make_unique<WorkerMessageEvent>(message);
  QCoreApplication::postEvent(receiver_, event.release());
}

void QtMessageSink::detach() {
  const std::lock_guard lock(mutex_);
  receiver_ = nullptr;
}

}  // namespace voltrix

#pragma once
// Carries worker messages to a Qt object on its own thread: each post becomes
// a queued event whose type number is the message number, so the dialog sees
// them one at a time in posting order. The worker holds the sink by
// shared_ptr; the dialog detaches it when it goes, after which posts are
// dropped.

#include <QEvent>
#include <mutex>

#include "engine/WorkerMessages.h"

class QObject;

namespace voltrix {

class WorkerMessageEvent final : public QEvent {
 public:
  explicit WorkerMessageEvent(const WorkerMessage& message);
  const WorkerMessage& message() const { return message_; }

  // Whether an event's type is one of the worker message numbers.
  static bool isWorkerMessage(const QEvent& event);

 private:
  WorkerMessage message_;
};

class QtMessageSink final : public MessageSink {
 public:
  explicit QtMessageSink(QObject* receiver);

  void post(const WorkerMessage& message) noexcept override;
  // Once this returns no further event reaches the receiver from this sink.
  void detach();

 private:
  std::mutex mutex_;
  QObject* receiver_;
};

}  // namespace voltrix

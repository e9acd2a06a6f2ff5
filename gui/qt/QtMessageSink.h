#pragma once
// Carries worker messages to a Qt object on its own thread. The worker's
// post() only appends to a locked mailbox and, unless a delivery is already
// on its way, asks Qt to queue one on the receiver's thread; there each
// waiting message reaches the receiver, in posting order, as an event whose
// type number is the message number. Nothing of ours crosses threads but the
// mailbox, and the receiver is only ever touched on its own thread. The
// worker holds the sink by shared_ptr and may outlive the receiver: once the
// receiver has detached or is gone, or the sink itself is, posts are dropped
// and a delivery still queued brings nothing.

#include <QEvent>
#include <memory>

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

struct MessageMailbox;

class QtMessageSink final : public MessageSink {
 public:
  // Made on the receiver's thread.
  explicit QtMessageSink(QObject* receiver);
  // Any thread.
  ~QtMessageSink() override;
  QtMessageSink(const QtMessageSink&) = delete;
  QtMessageSink& operator=(const QtMessageSink&) = delete;

  // Any thread; never waits for the receiver.
  void post(const WorkerMessage& message) noexcept override;
  // On the receiver's thread, before the receiver goes: once this returns
  // nothing more reaches the receiver from this sink.
  void detach();

 private:
  // Shared with what lives on the receiver's thread, which may outlast the
  // sink and must still find the mailbox closed.
  std::shared_ptr<MessageMailbox> mailbox_;
};

}  // namespace voltrix

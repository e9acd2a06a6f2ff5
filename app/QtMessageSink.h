#pragma once
// Carries worker messages to a Qt object on its own thread. The worker's
// post() only appends to a locked queue and rings a doorbell (an eventfd);
// on the receiver's thread a socket notifier hears the doorbell and hands
// each queued message to the receiver, in posting order, as an event whose
// type number is the message number. Qt itself is only ever touched on the
// receiver's thread, so nothing crosses threads but the queue. The worker
// holds the sink by shared_ptr; once the receiver detaches it, posts are
// dropped.

#include <QEvent>
#include <deque>
#include <mutex>

#include "engine/FileDescriptor.h"
#include "engine/WorkerMessages.h"

class QObject;
class QSocketNotifier;

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
  // Made on the receiver's thread.
  explicit QtMessageSink(QObject* receiver);
  ~QtMessageSink() override;
  QtMessageSink(const QtMessageSink&) = delete;
  QtMessageSink& operator=(const QtMessageSink&) = delete;

  // Any thread; never waits for the receiver.
  void post(const WorkerMessage& message) noexcept override;
  // On the receiver's thread, before the receiver goes: once this returns
  // nothing more reaches the receiver from this sink.
  void detach();

 private:
  void deliverPending();

  std::mutex mutex_;
  std::deque<WorkerMessage> pending_;  // guarded by mutex_
  bool attached_ = true;               // guarded by mutex_
  FileDescriptor doorbell_;
  // Receiver's thread only. The notifier belongs to the receiver, so it is
  // destroyed on that thread with it; detach() only silences it, which is
  // safe even while it is delivering.
  QObject* receiver_;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace voltrix

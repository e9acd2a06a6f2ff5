#include "gui/qt/QtMessageSink.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <cstdint>
#include <deque>
#include <mutex>
#include <utility>

namespace voltrix {

struct MessageMailbox {
  std::mutex mutex;
  std::deque<WorkerMessage> pending;  // guarded by mutex
  // Where deliveries are queued; null once nothing may be delivered any
  // more. Guarded by mutex, which also keeps it alive while a post uses it.
  QObject* doorstep = nullptr;
  bool deliveryQueued = false;  // guarded by mutex
};

namespace {

// A bounded share per turn of the event loop: a worker that posts faster
// than the receiver can show must not keep everything else waiting.
constexpr int kMostPerDelivery = 64;

// With the mailbox locked. By name, so that Qt alone builds the call and
// carries it to the receiver's thread: a functor would be written on the
// poster's thread and read on the receiver's, ordered only by Qt's own
// locking, which ThreadSanitizer cannot see in a Qt it did not instrument.
void queueDelivery(MessageMailbox& mailbox) {
  if (mailbox.deliveryQueued || mailbox.doorstep == nullptr) return;
  mailbox.deliveryQueued =
      QMetaObject::invokeMethod(mailbox.doorstep, "deliverPending", Qt::QueuedConnection);
}

// A child of the receiver, so it lives on the receiver's thread: Qt runs the
// deliveries queued to it there, and drops those still queued when it goes
// with the receiver.
class Doorstep final : public QObject {
  Q_OBJECT

 public:
  Doorstep(QObject* receiver, std::shared_ptr<MessageMailbox> mailbox)
      : QObject(receiver), receiver_(receiver), mailbox_(std::move(mailbox)) {}

  ~Doorstep() override {
    // A worker in the middle of a post holds the lock until its delivery is
    // queued; that delivery goes with us, and later posts find no doorstep.
    const std::lock_guard lock(mailbox_->mutex);
    if (mailbox_->doorstep == this) mailbox_->doorstep = nullptr;
  }

  Q_INVOKABLE void deliverPending();

 private:
  bool takeNext(WorkerMessage& message);

  QObject* receiver_;  // our parent, so it outlives us
  std::shared_ptr<MessageMailbox> mailbox_;
};

void Doorstep::deliverPending() {
  {
    // From here on a post queues the next delivery, which may even run in
    // an event loop the receiver opens while it handles one of these.
    const std::lock_guard lock(mailbox_->mutex);
    mailbox_->deliveryQueued = false;
  }
  // One at a time from the front, so that such a nested delivery keeps to
  // the posting order too.
  WorkerMessage message;
  for (int count = 0; count < kMostPerDelivery && takeNext(message); ++count) {
    WorkerMessageEvent event(message);
    QCoreApplication::sendEvent(receiver_, &event);
  }
  const std::lock_guard lock(mailbox_->mutex);
  if (!mailbox_->pending.empty()) queueDelivery(*mailbox_);
}

bool Doorstep::takeNext(WorkerMessage& message) {
  const std::lock_guard lock(mailbox_->mutex);
  // The receiver may detach while it handles a message (a closing dialog).
  if (mailbox_->doorstep != this || mailbox_->pending.empty()) return false;
  message = mailbox_->pending.front();
  mailbox_->pending.pop_front();
  return true;
}

// On any thread: nothing more is delivered, not even what a queued delivery
// was about to bring. The doorstep itself stays with the receiver: a
// delivery under way may still be on the receiver's stack.
void closeMailbox(MessageMailbox& mailbox) {
  const std::lock_guard lock(mailbox.mutex);
  mailbox.pending.clear();
  mailbox.doorstep = nullptr;
}

}  // namespace

WorkerMessageEvent::WorkerMessageEvent(const WorkerMessage& message)
    : QEvent(QEvent::Type(message.id)), message_(message) {}

bool WorkerMessageEvent::isWorkerMessage(const QEvent& event) {
  const auto type = static_cast<std::uint32_t>(event.type());
  return type >= kFirstWorkerMessage && type <= kLastWorkerMessage;
}

QtMessageSink::QtMessageSink(QObject* receiver) : mailbox_(std::make_shared<MessageMailbox>()) {
  // Owned by the receiver; no worker has the sink yet.
  mailbox_->doorstep = new Doorstep(receiver, mailbox_);
}

QtMessageSink::~QtMessageSink() {
  closeMailbox(*mailbox_);
}

void QtMessageSink::post(const WorkerMessage& message) noexcept {
  const std::lock_guard lock(mailbox_->mutex);
  if (mailbox_->doorstep == nullptr) return;
  try {
    mailbox_->pending.push_back(message);
    queueDelivery(*mailbox_);
  } catch (...) {
    // Out of memory: a lost status line, not a dead worker. What is
    // already waiting goes with the next post.
  }
}

void QtMessageSink::detach() {
  closeMailbox(*mailbox_);
}

}  // namespace voltrix

#include "QtMessageSink.moc"

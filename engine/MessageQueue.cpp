#include "engine/MessageQueue.h"

namespace voltrix {

void MessageQueue::post(const WorkerMessage& message) noexcept {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    try {
      pending_.push_back(message);
    } catch (...) {
      // Out of memory: a lost status message is better than a dead worker.
      return;
    }
  }
  arrived_.notify_one();
}

void MessageQueue::wait(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  arrived_.wait_for(lock, limit, [this] { return !pending_.empty() || closed_; });
}

std::optional<WorkerMessage> MessageQueue::next(std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  arrived_.wait_for(lock, wait, [this] { return !pending_.empty() || closed_; });
  if (pending_.empty()) return std::nullopt;
  WorkerMessage message = pending_.front();
  pending_.pop_front();
  return message;
}

std::optional<WorkerMessage> MessageQueue::tryNext() {
  return next(std::chrono::milliseconds(0));
}

std::vector<WorkerMessage> MessageQueue::drain() {
  std::lock_guard lock(mutex_);
  std::vector<WorkerMessage> all(pending_.begin(), pending_.end());
  pending_.clear();
  return all;
}

void MessageQueue::close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  arrived_.notify_all();
}

}  // namespace voltrix

#pragma once
// A thread-safe, ordered message sink that a front end drains on its own
// thread (the CLI and the tests use it). Posting takes a short lock and never
// waits for the reader; after close() posts are dropped.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include "engine/WorkerMessages.h"

namespace voltrix {

class MessageQueue final : public MessageSink {
 public:
  void post(const WorkerMessage& message) noexcept override;

  // The next message, waiting at most `wait` for one to arrive.
  std::optional<WorkerMessage> next(std::chrono::milliseconds wait);
  std::optional<WorkerMessage> tryNext();
  // Returns once a message is waiting or the queue is closed, or after
  // `limit`, taking nothing.
  void wait(std::chrono::milliseconds limit);
  // Everything posted so far, in order, leaving the queue empty.
  std::vector<WorkerMessage> drain();
  // Stop accepting messages; a reader waiting in next() wakes up.
  void close();

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<WorkerMessage> pending_;
  bool closed_ = false;
};

}  // namespace voltrix

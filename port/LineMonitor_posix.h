#pragma once
// The thread that watches an open port's line and tells the notify sink
// what changed.

#include <atomic>
#include <cstdint>
#include <thread>

#include "platform/FileDescriptor_posix.h"
#include "port/LineCounters_posix.h"
#include "port/LineNotifications.h"

namespace voltrix {

class LineMonitor {
 public:
  LineMonitor() = default;
  ~LineMonitor() { stop(); }
  LineMonitor(const LineMonitor&) = delete;
  LineMonitor& operator=(const LineMonitor&) = delete;

  // Watches `fd` until stop(), telling whatever sink `sink` holds at the
  // time. False when the thread could not be started.
  bool start(int fd, std::uint32_t portNumber, LineErrorWatch& errors,
             const std::atomic<SerialNotifySink*>& sink);
  // Returns once the thread has ended. Harmless when none runs.
  void stop();
  // Has the thread look again at once: the sink has changed.
  void nudge();
  bool running() const { return running_.load(); }

 private:
  void watch(int fd, std::uint32_t portNumber, LineErrorWatch& errors,
             const std::atomic<SerialNotifySink*>& sink);

  std::thread thread_;
  std::atomic<bool> running_{false};
  // A byte in this pipe wakes the thread for stopping.
  FileDescriptor wakeRead_;
  FileDescriptor wakeWrite_;
};

}  // namespace voltrix

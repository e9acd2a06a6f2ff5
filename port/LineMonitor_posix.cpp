#include "port/LineMonitor_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <system_error>

namespace voltrix {

namespace {

// Period of the monitor's look at the line.
constexpr int kLookPeriodMs = 50;

void tell(SerialNotifySink& sink, std::uint32_t portNumber,
          const std::vector<LineNotification>& notifications) {
  for (const LineNotification& notification : notifications) {
    sink.notify(notification.message, portNumber, notification.lParam);
  }
}

}  // namespace

bool LineMonitor::start(int fd, std::uint32_t portNumber, LineErrorWatch& errors,
                        const std::atomic<SerialNotifySink*>& sink) {
  stop();
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  wakeRead_.reset(ends[0]);
  wakeWrite_.reset(ends[1]);
  running_.store(true);
  try {
    thread_ =
        std::thread(&LineMonitor::watch, this, fd, portNumber, std::ref(errors), std::cref(sink));
  } catch (const std::system_error&) {
    running_.store(false);
    wakeRead_.reset();
    wakeWrite_.reset();
    return false;
  }
  return true;
}

void LineMonitor::stop() {
  if (thread_.joinable()) {
    running_.store(false);
    nudge();
    thread_.join();
  }
  running_.store(false);
  wakeRead_.reset();
  wakeWrite_.reset();
}

void LineMonitor::nudge() {
  if (!wakeWrite_) return;
  const char wake = 1;
  // A full pipe already holds a wake-up.
  while (::write(wakeWrite_.get(), &wake, 1) < 0 && errno == EINTR) {
  }
}

void LineMonitor::watch(int fd, std::uint32_t portNumber, LineErrorWatch& errors,
                        const std::atomic<SerialNotifySink*>& sinkSlot) {
  pollfd wake{wakeRead_.get(), POLLIN, 0};
  // Changes are told against the look before; none is valid after a time
  // without a sink.
  std::optional<LineLook> last;
  while (running_.load()) {
    // With nobody to tell and no error counts to take, there is nothing to
    // look at: the thread sleeps until it is nudged or stopped, instead of
    // waking twenty times a second for nothing.
    const bool watching = sinkSlot.load(std::memory_order_acquire) != nullptr || errors.counting();
    const int woken = ::poll(&wake, 1, watching ? kLookPeriodMs : -1);
    if (!running_.load()) break;
    if (woken > 0) {
      char drained[16];
      while (::read(wakeRead_.get(), drained, sizeof drained) > 0) {
      }
      last.reset();
      continue;
    }
    if (woken < 0 && errno != EINTR) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kLookPeriodMs));
      continue;
    }
    // New line errors are taken here whether or not anyone listens, as the
    // reader would otherwise find them later.
    const std::uint32_t errorBits = errors.take(fd);
    SerialNotifySink* sink = sinkSlot.load(std::memory_order_acquire);
    if (sink == nullptr) {
      last.reset();
      continue;
    }
    tell(*sink, portNumber, notificationsForErrors(errorBits));
    const LineLook now = lookAtLine(fd);
    if (last) tell(*sink, portNumber, notificationsBetween(*last, now));
    last = now;
  }
}

}  // namespace voltrix

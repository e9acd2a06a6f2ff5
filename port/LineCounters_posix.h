#pragma once
// What a terminal device tells about its line: the driver's event counters,
// the modem lines and its queues, read into the monitor's neutral terms.

#include <cstdint>
#include <mutex>
#include <optional>

#include "port/LineNotifications.h"

namespace voltrix {

// The driver's running counts; empty where it keeps none (a pseudo-terminal,
// a system without TIOCGICOUNT).
struct DriverCounts {
  LineErrorCounts errors;
  LineEventCounts events;
};
std::optional<DriverCounts> readDriverCounts(int fd);

// One look at the line of `fd`.
LineLook lookAtLine(int fd);

// The line errors not yet taken. Reader, writer and monitor each take them,
// so one error is acted on once.
class LineErrorWatch {
 public:
  // Counts from now on.
  void reset(int fd);
  // The error bits of what the driver counted since the last take.
  std::uint32_t take(int fd);
  // False where the driver keeps no counts (a pseudo-terminal): then no
  // error is ever seen and there is nothing to watch for.
  bool counting();

 private:
  std::mutex mutex_;
  std::optional<LineErrorCounts> baseline_;  // guarded by mutex_
};

}  // namespace voltrix

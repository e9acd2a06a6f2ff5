#pragma once
// One direction of the serial line: when each byte has crossed it. Paced, a
// byte takes ten bit times (start, eight data, stop) and cannot start before
// the previous one has ended; unpaced it crosses at once, but never ahead of
// the byte before it. Times are absolute, so rounding never adds up.

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace voltrix::sim {

class LineClock {
 public:
  using Clock = std::chrono::steady_clock;

  LineClock(std::uint32_t baudRate, bool paced)
      : byteTime_(paced && baudRate > 0 ? std::chrono::nanoseconds(10'000'000'000LL / baudRate)
                                        : std::chrono::nanoseconds(0)) {}

  // The moment a byte handed to the line at `ready` has arrived at the far end.
  Clock::time_point deliver(Clock::time_point ready) {
    last_ = std::max(ready, last_) + byteTime_;
    return last_;
  }

  std::chrono::nanoseconds byteTime() const { return byteTime_; }

 private:
  std::chrono::nanoseconds byteTime_;
  Clock::time_point last_{};
};

}  // namespace voltrix::sim

#pragma once
// Waits in the form the POSIX calls take them.

#include <time.h>

#include <chrono>

namespace voltrix {

// A wait for ppoll() and its kind; one that is already over waits not at all.
inline timespec toTimespec(std::chrono::nanoseconds wait) {
  if (wait < std::chrono::nanoseconds::zero()) wait = std::chrono::nanoseconds::zero();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
  const auto nanoseconds = wait - seconds;
  return timespec{static_cast<time_t>(seconds.count()), static_cast<long>(nanoseconds.count())};
}

}  // namespace voltrix

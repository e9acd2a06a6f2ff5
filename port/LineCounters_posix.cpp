#include "port/LineCounters_posix.h"

#include <sys/ioctl.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

namespace voltrix {

std::optional<DriverCounts> readDriverCounts([[maybe_unused]] int fd) {
#ifdef TIOCGICOUNT
  serial_icounter_struct counted{};
  if (::ioctl(fd, TIOCGICOUNT, &counted) != 0) return std::nullopt;
  DriverCounts counts;
  counts.errors = {counted.frame, counted.parity, counted.overrun, counted.buf_overrun,
                   counted.brk};
  counts.events = {counted.rx, counted.cts, counted.dsr, counted.rng, counted.dcd};
  return counts;
#else
  return std::nullopt;
#endif
}

LineLook lookAtLine(int fd) {
  LineLook look;
  int modemLines = 0;
  look.modemLinesKnown = ::ioctl(fd, TIOCMGET, &modemLines) == 0;
  if (look.modemLinesKnown) {
    look.modemLines = {(modemLines & TIOCM_CTS) != 0, (modemLines & TIOCM_DSR) != 0,
                       (modemLines & TIOCM_RNG) != 0, (modemLines & TIOCM_CD) != 0};
  }
  if (const auto counts = readDriverCounts(fd)) {
    look.eventCountsKnown = true;
    look.eventCounts = counts->events;
  }
  if (::ioctl(fd, FIONREAD, &look.queued) != 0) look.queued = 0;
  if (::ioctl(fd, TIOCOUTQ, &look.unsent) != 0) look.unsent = 0;
  return look;
}

void LineErrorWatch::reset(int fd) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto counts = readDriverCounts(fd);
  baseline_ = counts ? std::optional<LineErrorCounts>(counts->errors) : std::nullopt;
}

bool LineErrorWatch::counting() {
  std::lock_guard<std::mutex> lock(mutex_);
  return baseline_.has_value();
}

std::uint32_t LineErrorWatch::take(int fd) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Without counts at the start there is nothing to compare with later.
  if (!baseline_) return 0;
  const auto counts = readDriverCounts(fd);
  if (!counts) return 0;
  const std::uint32_t errors = lineErrorsBetween(*baseline_, counts->errors);
  baseline_ = counts->errors;
  return errors;
}

}  // namespace voltrix

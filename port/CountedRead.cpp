#include "port/CountedRead.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace voltrix {

namespace {

using Clock = CountedReadLine::Clock;

// The pause between passes, and after a wake-up that brought nothing.
constexpr auto kStep = std::chrono::milliseconds(2);

struct PassResult {
  std::int32_t stored = 0;
  bool readEnds = false;  // the port went away or the run was cancelled
};

// One pass: waits until `count` bytes have come or `passEnd`. A reply under
// way is left to arrive at the line's pace and then taken in one go, so a
// block costs a wake-up for its first bytes and one for the rest, not one
// per byte. The bytes land in `scratch` and count only if the line reported
// no error meanwhile.
PassResult collectPass(CountedReadLine& line, std::uint8_t* scratch, std::int32_t count,
                       Clock::time_point passEnd) {
  PassResult result;
  bool lookFirst = false;  // after a pause the rest is likely queued already
  for (;;) {
    if (line.cancelled()) {
      result.readEnds = true;
      break;
    }
    const auto now = line.now();
    const Clock::duration wait =
        lookFirst ? Clock::duration::zero() : std::max(passEnd - now, Clock::duration::zero());
    const int got = line.receive(scratch + result.stored, count - result.stored, wait);
    if (got < 0) {
      result.readEnds = true;
      break;
    }
    result.stored += got;
    if (result.stored >= count) break;
    const auto after = line.now();
    if (after >= passEnd) break;
    const Clock::duration left = passEnd - after;
    if (got > 0) {
      const Clock::duration rest = line.timeToArrive(count - result.stored);
      if (rest > Clock::duration::zero()) line.pause(std::min(rest, left));
      lookFirst = rest > Clock::duration::zero();
    } else if (!lookFirst) {
      // Woken with nothing to take: pace the looks.
      line.pause(std::min<Clock::duration>(kStep, left));
    } else {
      lookFirst = false;
    }
  }
  if (line.discardedAfterLineError()) result.stored = 0;
  return result;
}

}  // namespace

int readCounted(CountedReadLine& line, std::uint8_t* buffer, std::int32_t length,
                const CountedReadLimits& limits) {
  if (buffer == nullptr || length <= 0) return 0;
  const auto start = line.now();
  const auto deadline = limits.totalBound
                            ? std::optional<Clock::time_point>(start + *limits.totalBound)
                            : std::nullopt;
  // The end of a wait that begins at `from` and may last `wait`.
  const auto waitEnd = [&](Clock::time_point from, Clock::duration wait) {
    const auto end = from + wait;
    return deadline ? std::min(end, *deadline) : end;
  };
  // Bytes are kept apart until their pass has counted them, so that a
  // discarded pass leaves the caller's buffer as it was.
  std::vector<std::uint8_t> scratch(static_cast<std::size_t>(length));
  std::int32_t total = 0;
  for (int pass = 0; pass < limits.passes; ++pass) {
    if (line.cancelled() || line.gone()) return total;
    if (deadline && line.now() >= *deadline) return total;
    const std::int32_t remaining = length - total;
    const PassResult result =
        collectPass(line, scratch.data(), remaining, waitEnd(line.now(), limits.passWait));
    std::memcpy(buffer + total, scratch.data(), static_cast<std::size_t>(result.stored));
    total += result.stored;
    if (result.readEnds || total >= length || pass + 1 == limits.passes) return total;
    const auto now = line.now();
    line.pause(std::max(waitEnd(now, kStep) - now, Clock::duration::zero()));
  }
  return total;
}

}  // namespace voltrix

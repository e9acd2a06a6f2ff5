#include "port/CountedRead.h"

#include <algorithm>

namespace voltrix {

namespace {

using Clock = CountedReadLine::Clock;
using Wait = CountedReadLine::Wait;

// Longest single wait between looks at the cancel flag.
constexpr auto kWaitSlice = std::chrono::milliseconds(20);
// The pause between passes, and between looks on a line whose waits end
// with the first byte whatever it was asked for.
constexpr auto kStep = std::chrono::milliseconds(2);

// Whichever way the read ends, the next wait wakes on the first byte again.
class WakeOnFirstByteAfterwards {
 public:
  explicit WakeOnFirstByteAfterwards(CountedReadLine& line) : line_(line) {}
  ~WakeOnFirstByteAfterwards() { line_.wakeWhenQueued(1); }
  WakeOnFirstByteAfterwards(const WakeOnFirstByteAfterwards&) = delete;
  WakeOnFirstByteAfterwards& operator=(const WakeOnFirstByteAfterwards&) = delete;

 private:
  CountedReadLine& line_;
};

// One pass's wait: until `remaining` bytes are queued or `passEnd` has come.
// The bytes queued then (none after a line error), or nothing when the read
// must end because the port went away or the run was cancelled.
std::optional<int> awaitRest(CountedReadLine& line, std::int32_t remaining,
                             Clock::time_point passEnd, bool& waitsHonourCount) {
  for (;;) {
    if (line.discardedAfterLineError()) return 0;
    const int queued = line.queued();
    if (queued < 0) return std::nullopt;
    if (queued >= remaining) return queued;
    const auto now = line.now();
    if (now >= passEnd) return queued;
    if (line.cancelled()) return std::nullopt;
    const Clock::duration left = passEnd - now;
    if (queued > 0 && !waitsHonourCount) {
      // A wait would end at once while anything is queued: pace the looks.
      line.pause(std::min<Clock::duration>(kStep, left));
      continue;
    }
    switch (line.waitForInput(std::min<Clock::duration>(kWaitSlice, left))) {
      case Wait::Gone:
        return std::nullopt;
      case Wait::Ready:
        if (line.queued() < remaining) waitsHonourCount = false;
        break;
      case Wait::Idle:
        break;
    }
  }
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
  const WakeOnFirstByteAfterwards restoreWakeUp(line);
  bool waitsHonourCount = true;
  std::int32_t total = 0;
  for (int pass = 0; pass < limits.passes; ++pass) {
    if (line.cancelled() || line.gone()) return total;
    if (deadline && line.now() >= *deadline) return total;
    const std::int32_t remaining = length - total;
    line.wakeWhenQueued(remaining);

    const auto queued =
        awaitRest(line, remaining, waitEnd(line.now(), limits.passWait), waitsHonourCount);
    if (!queued) return total;
    const std::int32_t wanted = std::min<std::int32_t>(remaining, *queued);
    if (wanted > 0) {
      const int taken = line.take(buffer + total, wanted);
      if (taken < 0) return total;
      total += taken;
    }
    if (total >= length || pass + 1 == limits.passes) return total;
    const auto now = line.now();
    if (line.waitForInput(waitEnd(now, kStep) - now) == Wait::Gone) return total;
  }
  return total;
}

}  // namespace voltrix

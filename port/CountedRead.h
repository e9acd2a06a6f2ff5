#pragma once
// The counted read of a serial port: up to a number of passes, each waiting
// a while for the rest of the bytes and then taking what is queued. The
// passes are the same on every platform; the line they work on is the
// platform's port.

#include <chrono>
#include <cstdint>
#include <optional>

namespace voltrix {

// What a counted read needs of an open port.
class CountedReadLine {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Wait { Ready, Idle, Gone };

  virtual ~CountedReadLine() = default;
  virtual Clock::time_point now() = 0;
  // The run's cancel flag is raised.
  virtual bool cancelled() = 0;
  // The port has signalled hang-up or an I/O error.
  virtual bool gone() = 0;
  // From now on a wait may sleep until `count` bytes are queued instead of
  // waking for each one; a line that cannot do so ignores it.
  virtual void wakeWhenQueued(std::int32_t count) = 0;
  // True when the line reported an error since the last look; what it had
  // received is then discarded.
  virtual bool discardedAfterLineError() = 0;
  // The bytes received and not yet read; -1 once the port is gone.
  virtual int queued() = 0;
  // Waits up to `wait` (nothing when not positive) for input.
  virtual Wait waitForInput(Clock::duration wait) = 0;
  // Lets `wait` pass without looking at the line.
  virtual void pause(Clock::duration wait) = 0;
  // Moves up to `count` queued bytes to `buffer`: how many, or -1 once the
  // port is gone.
  virtual int take(std::uint8_t* buffer, std::int32_t count) = 0;
};

struct CountedReadLimits {
  int passes = 1000;
  std::chrono::milliseconds passWait{0};  // the longest a pass waits for the rest
  // The passes stop once this much time has passed since the read began.
  std::optional<std::chrono::milliseconds> totalBound;
};

// The number of bytes stored from buffer[0] on, at most `length`. Ends early
// when the port goes away or the run is cancelled.
int readCounted(CountedReadLine& line, std::uint8_t* buffer, std::int32_t length,
                const CountedReadLimits& limits);

}  // namespace voltrix

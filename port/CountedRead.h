#pragma once
// The counted read of a serial port: up to a number of passes, each waiting
// a while for the rest of the bytes and storing what came. The passes are
// the same on every platform; the line they work on is the platform's port.

#include <chrono>
#include <cstdint>
#include <optional>

namespace voltrix {

// What a counted read needs of an open port.
class CountedReadLine {
 public:
  using Clock = std::chrono::steady_clock;

  virtual ~CountedReadLine() = default;
  virtual Clock::time_point now() = 0;
  // The run's cancel flag is raised.
  virtual bool cancelled() = 0;
  // The port has signalled hang-up or an I/O error.
  virtual bool gone() = 0;
  // Moves up to `count` received bytes to `buffer`, first waiting up to
  // `wait` for them (a wait of zero only looks). A line that can wait for
  // all `count` bytes in one go does so; another returns with what the first
  // wake-up brought. How many, or -1 once the port is gone. Ends early when
  // the run is cancelled.
  virtual int receive(std::uint8_t* buffer, std::int32_t count, Clock::duration wait) = 0;
  // How long the line needs to bring `count` more bytes of a reply already
  // under way: the read sleeps that long rather than wake for each byte.
  // Zero for a line whose receive waits for all of them anyway.
  virtual Clock::duration timeToArrive(std::int32_t count) = 0;
  // True when the line reported an error since the last look; what it had
  // received is then discarded.
  virtual bool discardedAfterLineError() = 0;
  // Lets `wait` pass without looking at the line.
  virtual void pause(Clock::duration wait) = 0;
};

struct CountedReadLimits {
  int passes = 1000;
  std::chrono::milliseconds passWait{0};  // the longest a pass waits for the rest
  // The passes stop once this much time has passed since the read began.
  std::optional<std::chrono::milliseconds> totalBound;
};

// The number of bytes stored from buffer[0] on, at most `length`. Ends early
// when the port goes away or the run is cancelled. A pass during which the
// line reported an error stores nothing.
int readCounted(CountedReadLine& line, std::uint8_t* buffer, std::int32_t length,
                const CountedReadLimits& limits);

}  // namespace voltrix

#pragma once
// One device of the simulator rig without any I/O: its loader, the line's
// clock in each direction, and the answers waiting for their time.
//
// The loader has no clock, so each byte is handed to it as soon as the host
// has written it, with the time the line will have carried it across; what
// it answers is timed from that moment (plus latency and any lateness, in
// turn where the device answers one request at a time). An answer leaves in
// one piece at the moment the line would have delivered its last byte. Only
// answers and a hang-up need a wake-up of their own, not every byte of a
// header.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "sim/LineClock.h"
#include "sim/LoaderProtocol.h"
#include "sim/ZetakSimulator.h"

namespace voltrix::sim {

// How late answers left against the time the line would have delivered them.
struct LatenessTally {
  std::uint64_t answers = 0;
  std::chrono::nanoseconds total{0};
  std::chrono::nanoseconds worst{0};
};

class RigLine {
 public:
  using Clock = std::chrono::steady_clock;

  // How far the host may write ahead of the line (bytes still crossing it)
  // and how much answer may wait for a host that does not read.
  static constexpr std::size_t kMaxPendingFromHost = 4096;
  static constexpr std::size_t kMaxPendingToHost = 4096;

  explicit RigLine(const SimConfig& config);

  // The bytes the host wrote, read at `now`. Nothing after a hang-up byte
  // reaches the loader.
  void takeFromHost(const std::uint8_t* bytes, std::size_t count, Clock::time_point now);

  // Appends to `out` the bytes of every answer due by `now` (none due after
  // the hang-up), without those a short write already sent.
  void collectDue(Clock::time_point now, std::vector<std::uint8_t>& out) const;
  // `count` of the collected bytes went out at `now`; finished answers are
  // counted in `tally`. False when the write fell short.
  bool markSent(std::size_t count, Clock::time_point now, LatenessTally& tally);
  // Nothing more will be sent (the line is down).
  void dropAnswers();

  // When something must happen next: an answer, the hang-up, or the host
  // being let write again once the line has caught up.
  std::optional<Clock::time_point> nextDue(bool answersMayLeave, Clock::time_point now) const;
  bool mayRead(Clock::time_point now) const;
  bool hangUpDue(Clock::time_point now) const { return hangUpAt_ && *hangUpAt_ <= now; }

  const LoaderProtocol& protocol() const { return protocol_; }

 private:
  struct Answer {
    std::vector<std::uint8_t> bytes;
    Clock::time_point due;
  };

  void answer(std::uint8_t byte, Clock::time_point arrived);
  Clock::time_point readableAgainAt() const;

  SimConfig config_;
  LoaderProtocol protocol_;
  LineClock fromHost_;
  LineClock toHost_;
  Clock::time_point lastArrival_{};  // of the host's latest byte
  Clock::time_point busyUntil_{};    // with answerInTurn
  std::optional<Clock::time_point> hangUpAt_;
  std::deque<Answer> outbound_;
  std::size_t outboundBytes_ = 0;
  std::size_t frontSent_ = 0;  // of outbound_.front(), after a short write
};

}  // namespace voltrix::sim

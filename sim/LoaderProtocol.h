#pragma once
// The loader's side of the protocol, without any I/O: bytes from the host go
// in one at a time, in the order the line delivered them, and what the device
// answers comes out. It keeps the download state (sync accepted, where the
// next block continues) and the device's memory, and applies the configured
// fault when its step arrives.

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/DeviceMemory.h"
#include "sim/ZetakSimulator.h"

namespace voltrix::sim {

// What the device does about one byte from the host.
struct LoaderAnswer {
  std::vector<std::uint8_t> bytes;  // sent back, possibly nothing
  std::chrono::milliseconds lateBy{0};
  bool hangUp = false;
};

class LoaderProtocol {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  // `resyncGap`: after a header of unknown form the device drops bytes until
  // an abort packet or a pause on the line at least this long.
  LoaderProtocol(const SimConfig& config, std::chrono::nanoseconds resyncGap);

  LoaderAnswer receive(std::uint8_t byte, TimePoint arrival);

  const DeviceMemory& memory() const { return memory_; }
  std::optional<std::uint8_t> endOfRunByte() const { return endOfRunByte_; }
  int syncRequests() const { return syncRequests_; }

 private:
  enum class State {
    Idle,
    WriteHeader,       // after 'W': collecting the header
    WriteData,         // after an accepted write header: collecting the block
    ReadHeader,        // after 'R': collecting the header
    AwaitDataRequest,  // after an accepted read header
    AwaitReadAck,      // after the block went out
    Abort,             // 0x03 seen, the rest of the abort packet expected
    Discarding,        // after a header of unknown form
    Dead,              // silenced or hung up: nothing is interpreted any more
  };

  struct Block {
    std::uint32_t address = 0;
    std::uint32_t count = 0;
    std::uint32_t checksum = 0;
  };

  LoaderAnswer receiveIdle(std::uint8_t byte);
  LoaderAnswer receiveAbortByte(std::uint8_t byte);
  LoaderAnswer receiveDiscarded(std::uint8_t byte, TimePoint arrival);
  LoaderAnswer collectHeader(std::uint8_t byte, SimStep step);

  // Counts the step's arrival and applies the fault planned for it.
  LoaderAnswer complete(SimStep step);
  std::vector<std::uint8_t> perform(SimStep step, bool refused);

  std::vector<std::uint8_t> answerSync(bool refused);
  std::vector<std::uint8_t> answerWriteHeader(bool refused);
  std::vector<std::uint8_t> answerWriteData(bool refused);
  std::vector<std::uint8_t> answerReadHeader(bool refused);
  std::vector<std::uint8_t> answerDataRequest(bool refused);
  std::optional<Block> parseWriteHeader() const;
  std::optional<Block> parseReadHeader() const;

  SimConfig config_;
  std::chrono::nanoseconds resyncGap_;
  State state_ = State::Idle;
  std::vector<std::uint8_t> packet_;  // header or data block being collected
  std::size_t abortMatched_ = 0;
  TimePoint lastArrival_{};

  bool downloadAccepted_ = false;
  std::optional<std::uint32_t> nextWriteAddress_;
  std::optional<std::uint32_t> nextReadAddress_;
  Block pending_;

  DeviceMemory memory_;
  std::optional<std::uint8_t> endOfRunByte_;
  int syncRequests_ = 0;
  std::array<int, 10> arrivals_{};  // per SimStep
};

}  // namespace voltrix::sim

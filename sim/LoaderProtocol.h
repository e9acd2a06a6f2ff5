#pragma once
// The loader's side of the protocol, without any I/O: bytes from the host go
// in one at a time, in the order the line delivered them, and what the device
// answers comes out. It keeps the download state (sync accepted, where the
// next block continues) and the device's memory, and applies the configured
// fault when its step arrives.
//
// Like a real loader it has no clock and no way back but the bytes it is
// sent: each byte is taken as the next part of the step it expects. After
// 'W' or 'R' the next byte is a header's length and that many bytes are read
// (an 'S' there is a length of 0x53); after an accepted write header as many
// data bytes as it announced; after an accepted read header it waits for
// 0xBB, after a read-back block for the host's ACK, and drops anything else.
// A host that walks away in the middle of a step finds the device still in
// the middle of it on its next run.

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
  explicit LoaderProtocol(const SimConfig& config);

  LoaderAnswer receive(std::uint8_t byte);

  const DeviceMemory& memory() const { return memory_; }
  std::optional<std::uint8_t> endOfRunByte() const { return endOfRunByte_; }
  int syncRequests() const { return syncRequests_; }
  // How many of the next bytes are certain to be taken without an answer and
  // without a fault: the data bytes of a block but its last. They need not
  // be handed over at their exact time.
  std::size_t quietBytesAhead() const {
    if (state_ != State::WriteData || packet_.size() >= pending_.count) return 0;
    return pending_.count - packet_.size() - 1;
  }

 private:
  enum class State {
    Idle,
    WriteHeader,       // after 'W': collecting the header
    WriteData,         // after an accepted write header: collecting the block
    ReadHeader,        // after 'R': collecting the header
    AwaitDataRequest,  // after an accepted read header: only 0xBB counts
    AwaitReadAck,      // after the block went out: only the host's ACK counts
    Abort,             // 0x03 seen, the rest of the abort packet expected
    Dead,              // silenced or hung up: nothing is interpreted any more
  };

  struct Block {
    std::uint32_t address = 0;
    std::uint32_t count = 0;
    std::uint32_t checksum = 0;
  };

  LoaderAnswer receiveIdle(std::uint8_t byte);
  LoaderAnswer receiveAbortByte(std::uint8_t byte);
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
  State state_ = State::Idle;
  std::vector<std::uint8_t> packet_;  // header or data block being collected
  std::size_t abortMatched_ = 0;

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

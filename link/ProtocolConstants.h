#pragma once
// Bytes and limits of the device's loader protocol.

#include <chrono>
#include <cstdint>

namespace voltrix {

inline constexpr std::uint8_t CMD_SYNC = 0x53;      // 'S': may I download?
inline constexpr std::uint8_t CMD_WRITE = 0x57;     // 'W': a write header follows
inline constexpr std::uint8_t CMD_READ = 0x52;      // 'R': a read header follows
inline constexpr std::uint8_t DATA_REQUEST = 0xBB;  // send the announced block
inline constexpr std::uint8_t ACK = 0xAA;
inline constexpr std::uint8_t CMD_END_OK = 0x5A;    // 'Z'
inline constexpr std::uint8_t CMD_END_FAIL = 0x45;  // 'E'
inline constexpr std::uint8_t ABORT_PACKET[] = {0x03, 0x45, 0x00};

inline constexpr std::uint32_t BLOCK_SIZE = 64;
// Progress goes out for every eighth full block.
inline constexpr std::uint32_t PROGRESS_INTERVAL = 512;
// Wait per pass of a counted read of a read-back block.
inline constexpr std::uint32_t READ_BLOCK_TIMEOUT_MS = 50;

// How long the line may stay quiet, and how the handshake paces itself.
struct LinkTimings {
  // Longest wait for any one reply (or one read-back block). Generous, so a
  // device busy programming its flash is never cut off.
  std::chrono::milliseconds replyBound{5000};
  // How long an attempt listens for the answer to 'S' before it pauses.
  std::chrono::milliseconds handshakeWindow{20};
  // The pause between two attempts; a late answer is still taken during it.
  std::chrono::milliseconds retryPause{100};
  // After the device accepted, before the first block.
  std::chrono::milliseconds settlePause{10};
  // Once a run is cancelled, how much longer than twice the recent reply
  // latency a reply may take while the block under way is carried to its
  // end: room for a step the loader takes longer over (a flash erase), yet a
  // silent device is given up long before the reply bound.
  std::chrono::milliseconds closingAllowance{500};
  // Zero: the handshake retries until the device accepts or the run is
  // cancelled. Otherwise it gives up after this long.
  std::chrono::milliseconds handshakeLimit{0};
};

}  // namespace voltrix

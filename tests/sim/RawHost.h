#pragma once
// The host side of the tests: the simulated device opened as a plain raw
// terminal, with reads that give up at a deadline, and the loader's packets.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/FileDescriptor_posix.h"
#include "sim/ZetakSimulator.h"

namespace voltrix::sim::test {

using Bytes = std::vector<std::uint8_t>;

// How long an answer that must come may take (generous for sanitizer builds),
// and how long we listen to be sure that nothing comes.
inline constexpr std::chrono::milliseconds kPatience{5000};
inline constexpr std::chrono::milliseconds kQuietSpell{250};

inline constexpr std::uint8_t CMD_SYNC = 0x53;
inline constexpr std::uint8_t CMD_WRITE = 0x57;
inline constexpr std::uint8_t CMD_READ = 0x52;
inline constexpr std::uint8_t DATA_REQUEST = 0xBB;
inline constexpr std::uint8_t CMD_END_OK = 0x5A;
inline constexpr std::uint8_t CMD_END_FAIL = 0x45;
inline const Bytes ABORT_PACKET = {0x03, 0x45, 0x00};

class RawHost {
 public:
  explicit RawHost(const std::string& devicePath);
  bool isOpen() const { return fd_.valid(); }
  void close() { fd_.reset(); }

  void send(const Bytes& bytes);
  // Whatever of `count` bytes arrived before the deadline.
  Bytes receive(std::size_t count, std::chrono::milliseconds within = kPatience);
  std::optional<std::uint8_t> receiveByte(std::chrono::milliseconds within = kPatience);
  // Sends and waits for the one-byte answer.
  std::optional<std::uint8_t> ask(const Bytes& bytes, std::chrono::milliseconds within = kPatience);
  // True once the line reports a hang-up (POLLHUP or a failing read).
  bool seesHangUp(std::chrono::milliseconds within = kPatience);

 private:
  FileDescriptor fd_;
};

bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds within = kPatience);

std::uint32_t checksumOf(const Bytes& block);
Bytes writeHeaderFirst(std::uint32_t address, const Bytes& block);
Bytes writeHeaderFull(const Bytes& block);
Bytes writeHeaderLast(const Bytes& block);
Bytes readHeaderFirst(std::uint32_t address, std::uint16_t count);
Bytes readHeaderFull();
Bytes readHeaderLast(std::uint16_t count);
Bytes transformed(const Bytes& bytes);
Bytes slice(const Bytes& bytes, std::size_t from, std::size_t count);

// "> 53 < AA ..." so that a transcript mismatch reads like the line.
std::string describe(const std::vector<TranscriptEntry>& transcript);

// Builds the transcript a test expects, step by step.
class ExpectedTranscript {
 public:
  ExpectedTranscript& host(const Bytes& bytes);
  ExpectedTranscript& device(const Bytes& bytes);
  const std::vector<TranscriptEntry>& entries() const { return entries_; }

 private:
  std::vector<TranscriptEntry> entries_;
};

}  // namespace voltrix::sim::test

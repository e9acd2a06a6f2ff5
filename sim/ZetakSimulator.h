#pragma once
// A simulated Zetak loader on the master side of a pseudo-terminal. The host
// opens the device side (devicePath()) like any serial port. The simulator
// answers every step with exactly one byte (a read-back block with its data),
// stores what it is sent in a memory keyed by device address with the byte
// transform undone, and returns that memory on read-back, so a correct host
// verifies. It keeps its state while the host closes and reopens the port,
// and like a real loader it takes every byte as the next part of the step it
// expects, so a host that stops in the middle of a step, or sends a byte out
// of turn, finds it confused afterwards.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace voltrix::sim {

// The steps of the loader protocol, as the simulator recognises them.
enum class SimStep {
  Sync,          // 'S'
  WriteCommand,  // 'W'
  WriteHeader,   // 0A 08 ... / 05 03 ... / 07 05 ...
  WriteData,     // the data bytes announced by a write header
  ReadCommand,   // 'R'
  ReadHeader,    // 07 05 ... / 02 00 / 04 02 ...
  DataRequest,   // 0xBB
  ReadAck,       // 0xAA after a read-back block
  Abort,         // 03 45 00
  EndOfRun,      // 'Z' or 'E'
};

// A fault hits when the step has fully arrived (a header or a data block
// with its last byte). Refuse, Silence and HangUp are the device's own
// doing; WrongByte, ShortBlock and LateReply spoil the answer on its way
// back while the device goes on as if it had answered normally.
enum class FaultKind {
  None,
  Refuse,      // answer the step with a refusal (Sync, WriteHeader, WriteData, ReadHeader);
               // a refused Sync gets kSyncBusy, any other step kRefuse, a refused
               // DataRequest one kRefuse byte instead of the block
  Silence,     // answer nothing from this step on (bytes are still recorded)
  HangUp,      // close the master side when the step arrives
  WrongByte,   // DataRequest: one byte of the block differs from memory (the middle
               // one, one bit flipped); on a one-byte answer that byte is flipped
  ShortBlock,  // DataRequest: send only half of the requested bytes (rounded down,
               // so a one-byte answer is lost)
  LateReply,   // answer this step `lateBy` later than usual
};

struct FaultPlan {
  FaultKind kind = FaultKind::None;
  SimStep step = SimStep::Sync;
  int occurrence = 1;  // 1-based: which arrival of `step` the fault hits
  std::chrono::milliseconds lateBy{0};
};

struct SimConfig {
  std::uint32_t baudRate = 57600;
  bool paced = false;  // each byte takes 10 bit times, both directions
  std::chrono::microseconds replyLatency{0};
  // Serves one request at a time, as a loader without a queue of its own
  // does: a request that comes while an answer is still being prepared is
  // taken up only once that answer has gone, and answered replyLatency
  // later. Otherwise every request is answered replyLatency after it came.
  bool answerInTurn = false;
  int refuseSyncs = 0;  // the first k sync requests are answered with kRefuse
  FaultPlan fault;
};

// The bytes the simulator answers with. Where the host does not examine the
// answer each step has its own byte, so a host that loses step shows it.
inline constexpr std::uint8_t kAck = 0xAA;
inline constexpr std::uint8_t kRefuse = 0xEE;
inline constexpr std::uint8_t kSyncBusy = 0x55;
inline constexpr std::uint8_t kWriteCommandReply = 0x77;
inline constexpr std::uint8_t kReadCommandReply = 0x72;
inline constexpr std::uint8_t kReadAckReply = 0x61;
inline constexpr std::uint8_t kAbortReply = 0x62;
inline constexpr std::uint8_t kEndOfRunReply = 0x65;
inline constexpr std::uint8_t kUnwrittenMemory = 0xFF;

struct TranscriptEntry {
  bool fromHost;
  std::uint8_t byte;
  bool operator==(const TranscriptEntry&) const = default;
};

class ZetakSimulator {
 public:
  explicit ZetakSimulator(SimConfig config = {});
  ~ZetakSimulator();  // stops the thread, closes both sides
  ZetakSimulator(const ZetakSimulator&) = delete;
  ZetakSimulator& operator=(const ZetakSimulator&) = delete;

  // Creates the pseudo-terminal and starts serving on its own thread. Once
  // per object; false (errno set) when the pseudo-terminal cannot be made.
  bool start();
  // Ends the thread at once, even with answers still due, and closes both
  // sides: the host's port then sees a hang-up. What was recorded stays.
  void stop();
  // The device side, e.g. /dev/pts/7.
  const std::string& devicePath() const;

  // Snapshots, safe to take while the simulator runs. Memory holds the
  // image's own bytes (the transform undone), keyed by 24-bit address; only
  // written addresses are in memory(), memoryRange() fills the others with
  // kUnwrittenMemory. A byte from the host enters the transcript when the
  // line has delivered it, a byte to the host once it has been written.
  std::map<std::uint32_t, std::uint8_t> memory() const;
  std::vector<std::uint8_t> memoryRange(std::uint32_t address, std::uint32_t length) const;
  std::vector<TranscriptEntry> transcript() const;
  std::vector<std::uint8_t> bytesFromHost() const;
  std::vector<std::uint8_t> bytesToHost() const;
  std::optional<std::uint8_t> endOfRunByte() const;
  int syncRequests() const;
  bool hungUp() const;
  void clearTranscript();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace voltrix::sim

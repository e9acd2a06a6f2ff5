#pragma once
// An open Win32 communications port and its overlapped I/O: status queries,
// purges, reads that land in a staging buffer of the port's own, and writes
// handed over from a copy, so that an operation the driver finishes late
// never touches a caller's buffer. Every wait is cut into slices that look
// at the cancel flag; an operation cut short is cancelled with CancelIoEx
// and awaited before its record is used again.

#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/WinHandle_win32.h"

namespace voltrix {

// Whole milliseconds, rounded up, as the Win32 waits take them.
inline DWORD ceilMs(std::chrono::steady_clock::duration wait) {
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
  return static_cast<DWORD>(std::clamp<std::int64_t>(ms, 0, MAXDWORD - 1));
}

inline bool isCancelled(const std::atomic<bool>* cancel) {
  return cancel != nullptr && cancel->load(std::memory_order_acquire);
}

class OverlappedPort {
 public:
  static constexpr std::size_t kQueueSize = 4096;  // each direction

  OverlappedPort();
  ~OverlappedPort() { close(); }
  OverlappedPort(const OverlappedPort&) = delete;
  OverlappedPort& operator=(const OverlappedPort&) = delete;

  // The events of the read and write records exist.
  bool ready() const { return rx_.event.valid() && tx_.event.valid(); }
  // Where the opened port goes; forgets the state of an earlier open.
  WinHandle& adopt();
  HANDLE handle() const { return port_.get(); }
  bool isOpen() const { return port_.valid(); }
  // Ends what is in flight, closes the port, forgets what was staged.
  void close();

  bool isGone() const { return gone_.load(std::memory_order_acquire); }
  // Line errors taken by another thread (the monitor), for the reader.
  std::atomic<DWORD>& errorsTakenElsewhere() { return errorsTakenElsewhere_; }

  // Status query: the bytes queued in the driver, 0 when the query fails.
  // Line errors are kept for the next read to act on.
  DWORD queuedInDriver();
  // A status query; true when a line error came since the last look, which
  // then counts as dealt with.
  bool takeLineErrors();
  // True when a line error had to be dealt with: the input is then
  // discarded, staged bytes included.
  bool discardInputOnLineError();
  void discardInput();
  void discardOutput();

  std::size_t stagedCount() const { return stagedEnd_ - stagedBegin_; }
  std::size_t takeStaged(std::uint8_t* buffer, std::size_t count);
  // One ReadFile of up to `count` bytes into the staging buffer, ending
  // when they all came or after `waitMs` (0: at once with what is queued),
  // or early on a cancel. The bytes it brought.
  std::size_t readIntoStage(std::size_t count, DWORD waitMs, const std::atomic<bool>* cancel);
  // Hands the bytes to the driver and waits until it has them (at most
  // n + 1000 ms, as the driver's own time-out), or until a cancel.
  void write(const std::uint8_t* buffer, std::uint32_t length, const std::atomic<bool>* cancel);

 private:
  // One overlapped operation: its record, its event, and whether the driver
  // may still be working on it.
  struct PendingIo {
    WinHandle event = makeManualResetEvent();
    OVERLAPPED record{};
    bool inFlight = false;
    void prepare();
  };

  void noteFailure(DWORD error);
  // Waits for an operation left in flight; true once none is. The bytes of
  // a late read are the line's next ones and are staged, unless dropped.
  bool settle(PendingIo& io, bool dropResult);
  // Ends an operation cut short; false when the driver still holds it.
  bool cancel(PendingIo& io);
  // The result of an operation that has completed: its byte count.
  DWORD collect(PendingIo& io, bool cancelledHere);
  void setReadTimeouts(DWORD waitMs);

  WinHandle port_;
  PendingIo rx_;
  PendingIo tx_;
  std::array<std::uint8_t, kQueueSize> staged_{};
  std::size_t stagedBegin_ = 0;
  std::size_t stagedEnd_ = 0;
  std::vector<std::uint8_t> outgoing_;
  std::optional<COMMTIMEOUTS> timeoutsSet_;
  std::atomic<bool> gone_{false};
  std::atomic<DWORD> errorsTakenElsewhere_{0};
  DWORD pendingErrors_ = 0;
};

}  // namespace voltrix

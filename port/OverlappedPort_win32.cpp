#include "port/OverlappedPort_win32.h"

#include <cstring>
#include <utility>

#include "port/PortErrors_win32.h"

namespace voltrix {

namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kPurgeOutput = PURGE_TXABORT | PURGE_TXCLEAR;
constexpr DWORD kPurgeInput = PURGE_RXABORT | PURGE_RXCLEAR;
// Longest single wait between looks at the cancel flag.
constexpr DWORD kWaitSliceMs = 20;
// A driver-level write of n bytes may take n + 1000 ms.
constexpr DWORD kWriteGraceMs = 1000;
// Past its own time-out a driver operation counts as stuck and is cancelled.
constexpr DWORD kOverdueMs = 500;
// How long a cancelled operation, or one ended by closing the port, may
// take to complete.
constexpr DWORD kCancelGraceMs = 1000;

// Waits for `event` up to `limitMs`, looking at the cancel flag every slice.
// False when the time ran out or the flag was raised first.
bool awaitEvent(HANDLE event, DWORD limitMs, const std::atomic<bool>* cancel) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
  for (;;) {
    const auto left = std::max(deadline - Clock::now(), Clock::duration::zero());
    if (::WaitForSingleObject(event, std::min(kWaitSliceMs, ceilMs(left))) == WAIT_OBJECT_0) {
      return true;
    }
    if (isCancelled(cancel) || Clock::now() >= deadline) return false;
  }
}

// Read time-outs: 0 returns at once with what is queued; otherwise the read
// ends when all bytes asked for came or after that many ms. Writes keep
// n + 1000 ms.
COMMTIMEOUTS timeoutsForRead(DWORD waitMs) {
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = waitMs == 0 ? MAXDWORD : 0;
  timeouts.ReadTotalTimeoutConstant = waitMs;
  timeouts.WriteTotalTimeoutMultiplier = 1;
  timeouts.WriteTotalTimeoutConstant = kWriteGraceMs;
  return timeouts;
}

bool sameTimeouts(const COMMTIMEOUTS& a, const COMMTIMEOUTS& b) {
  return a.ReadIntervalTimeout == b.ReadIntervalTimeout &&
         a.ReadTotalTimeoutMultiplier == b.ReadTotalTimeoutMultiplier &&
         a.ReadTotalTimeoutConstant == b.ReadTotalTimeoutConstant &&
         a.WriteTotalTimeoutMultiplier == b.WriteTotalTimeoutMultiplier &&
         a.WriteTotalTimeoutConstant == b.WriteTotalTimeoutConstant;
}

}  // namespace

void OverlappedPort::PendingIo::prepare() {
  ::ResetEvent(event.get());
  record = OVERLAPPED{};
  record.hEvent = event.get();
}

OverlappedPort::OverlappedPort() = default;

WinHandle& OverlappedPort::adopt() {
  close();
  gone_.store(false);
  errorsTakenElsewhere_.store(0);
  pendingErrors_ = 0;
  return port_;
}

void OverlappedPort::close() {
  if (!isOpen()) return;
  if (rx_.inFlight || tx_.inFlight) ::CancelIoEx(port_.get(), nullptr);
  settle(rx_, true);
  settle(tx_, true);
  port_.reset();
  // Closing the port ends whatever the driver still held; the records must
  // outlive that.
  if (rx_.inFlight) ::WaitForSingleObject(rx_.event.get(), kCancelGraceMs);
  if (tx_.inFlight) ::WaitForSingleObject(tx_.event.get(), kCancelGraceMs);
  rx_.inFlight = tx_.inFlight = false;
  stagedBegin_ = stagedEnd_ = 0;
  timeoutsSet_.reset();
}

void OverlappedPort::noteFailure(DWORD error) {
  if (meansPortGone(error)) gone_.store(true, std::memory_order_release);
}

DWORD OverlappedPort::queuedInDriver() {
  DWORD errors = 0;
  COMSTAT status{};
  const bool queried = ::ClearCommError(port_.get(), &errors, &status);
  const DWORD failure = queried ? 0 : ::GetLastError();
  pendingErrors_ |= (queried ? errors : 0) | errorsTakenElsewhere_.exchange(0);
  if (!queried) {
    noteFailure(failure);
    return 0;  // a failed query counts as an empty queue
  }
  return status.cbInQue;
}

bool OverlappedPort::takeLineErrors() {
  queuedInDriver();
  return std::exchange(pendingErrors_, 0) != 0;
}

bool OverlappedPort::discardInputOnLineError() {
  if (!takeLineErrors()) return false;
  discardInput();
  return true;
}

void OverlappedPort::discardInput() {
  ::PurgeComm(port_.get(), kPurgeInput);  // also aborts a read still in flight
  settle(rx_, true);
  stagedBegin_ = stagedEnd_ = 0;
}

void OverlappedPort::discardOutput() {
  ::PurgeComm(port_.get(), kPurgeOutput);
}

std::size_t OverlappedPort::takeStaged(std::uint8_t* buffer, std::size_t count) {
  const std::size_t taken = std::min(count, stagedCount());
  std::memcpy(buffer, staged_.data() + stagedBegin_, taken);
  stagedBegin_ += taken;
  return taken;
}

bool OverlappedPort::settle(PendingIo& io, bool dropResult) {
  if (!io.inFlight) return true;
  if (::WaitForSingleObject(io.event.get(), kCancelGraceMs) != WAIT_OBJECT_0) return false;
  io.inFlight = false;
  const DWORD count = collect(io, true);
  if (&io == &rx_ && !dropResult) {
    stagedEnd_ += std::min<std::size_t>(count, staged_.size() - stagedEnd_);
  }
  return true;
}

bool OverlappedPort::cancel(PendingIo& io) {
  ::CancelIoEx(port_.get(), &io.record);
  if (::WaitForSingleObject(io.event.get(), kCancelGraceMs) != WAIT_OBJECT_0) return false;
  io.inFlight = false;
  return true;
}

DWORD OverlappedPort::collect(PendingIo& io, bool cancelledHere) {
  DWORD count = 0;
  // Wine ends a read that timed out with nothing received as a failure,
  // Windows as a success with no bytes: either way `count` is what came.
  if (!::GetOverlappedResult(port_.get(), &io.record, &count, FALSE)) {
    const DWORD error = ::GetLastError();
    if (!(cancelledHere && error == ERROR_OPERATION_ABORTED)) noteFailure(error);
  }
  return count;
}

void OverlappedPort::setReadTimeouts(DWORD waitMs) {
  const COMMTIMEOUTS wanted = timeoutsForRead(waitMs);
  if (timeoutsSet_ && sameTimeouts(*timeoutsSet_, wanted)) return;
  COMMTIMEOUTS copy = wanted;
  if (::SetCommTimeouts(port_.get(), &copy)) {
    timeoutsSet_ = wanted;
  } else {
    timeoutsSet_.reset();
    noteFailure(::GetLastError());
  }
}

std::size_t OverlappedPort::readIntoStage(std::size_t count, DWORD waitMs,
                                          const std::atomic<bool>* cancelFlag) {
  if (!settle(rx_, false)) return 0;
  if (stagedBegin_ == stagedEnd_) stagedBegin_ = stagedEnd_ = 0;
  if (stagedEnd_ + count > staged_.size() && stagedBegin_ > 0) {
    std::memmove(staged_.data(), staged_.data() + stagedBegin_, stagedCount());
    stagedEnd_ -= stagedBegin_;
    stagedBegin_ = 0;
  }
  count = std::min(count, staged_.size() - stagedEnd_);
  if (count == 0) return 0;
  setReadTimeouts(waitMs);
  rx_.prepare();
  bool cancelledHere = false;
  if (!::ReadFile(port_.get(), staged_.data() + stagedEnd_, static_cast<DWORD>(count), nullptr,
                  &rx_.record)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_IO_PENDING) {
      noteFailure(error);
      return 0;
    }
    rx_.inFlight = true;
    if (!awaitEvent(rx_.event.get(), waitMs + kOverdueMs, cancelFlag)) {
      cancelledHere = true;
      if (!cancel(rx_)) return 0;  // still in flight: settled before the next read
    }
    rx_.inFlight = false;
  }
  const std::size_t brought = std::min<std::size_t>(collect(rx_, cancelledHere), count);
  stagedEnd_ += brought;
  return brought;
}

void OverlappedPort::write(const std::uint8_t* buffer, std::uint32_t length,
                           const std::atomic<bool>* cancelFlag) {
  if (!settle(tx_, true)) return;  // the driver still holds the last write
  outgoing_.assign(buffer, buffer + length);
  tx_.prepare();
  bool cancelledHere = false;
  if (!::WriteFile(port_.get(), outgoing_.data(), length, nullptr, &tx_.record)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_IO_PENDING) {
      noteFailure(error);
      return;
    }
    tx_.inFlight = true;
    if (!awaitEvent(tx_.event.get(), length + kWriteGraceMs + kOverdueMs, cancelFlag)) {
      cancelledHere = true;
      if (!cancel(tx_)) return;
    }
    tx_.inFlight = false;
  }
  collect(tx_, cancelledHere);
}

}  // namespace voltrix

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>
#include <utility>

#include "platform/FileDescriptor_posix.h"
#include "platform/PosixTime_posix.h"
#include "platform/TermiosSpeed_posix.h"
#include "port/CountedRead.h"
#include "port/DeviceGone_posix.h"
#include "port/LineCounters_posix.h"
#include "port/LineMonitor_posix.h"
#include "port/PortOpening_posix.h"
#include "port/SerialPort.h"
#include "port/TtyIdentity_linux.h"

namespace voltrix {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Longest single wait of a blocking read or a write between looks at the
// cancel flag.
constexpr auto kWaitSlice = milliseconds(20);
// Pause of a blocking read after a wake-up that brought no byte.
constexpr auto kBlockingStep = milliseconds(1);
// A write of n bytes may wait up to n + 1000 ms for room in the driver.
constexpr int kWriteGraceMs = 1000;

bool isCancelled(const std::atomic<bool>* cancel) {
  return cancel != nullptr && cancel->load(std::memory_order_acquire);
}

enum class Readiness { Ready, Idle, Gone };

// Waits up to `wait` for the port to become ready for `events`.
Readiness waitFor(int fd, short events, Clock::duration wait) {
  pollfd entry{fd, events, 0};
  const timespec limit = toTimespec(wait);
  const int result = ::ppoll(&entry, 1, &limit, nullptr);
  if (result <= 0) return Readiness::Idle;  // time-out, or a signal: the caller loops
  if (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) return Readiness::Gone;
  return Readiness::Ready;
}

}  // namespace

struct SerialPort::Impl {
  FileDescriptor port;
  bool exclusive = false;  // TIOCEXCL was set by this open
  std::atomic<bool> gone{false};
  LineErrorWatch lineErrors;
  LineMonitor monitor;  // after what it watches, so that it stops first
  // Ten bit times (start, eight data, stop) at the open's speed.
  Clock::duration byteTime{};

  int fd() const { return port.get(); }

  void markGone() { gone.store(true, std::memory_order_release); }

  // True when a line error had to be dealt with: the input is then discarded.
  // Free on a line whose driver keeps no error counts (a pseudo-terminal).
  bool discardInputOnLineError() {
    if (lineErrors.take(fd()) == 0) return false;
    ::tcflush(fd(), TCIFLUSH);
    return true;
  }

  // Up to `count` queued bytes into `buffer`, without waiting: how many, -1
  // when the port is gone.
  int readQueued(std::uint8_t* buffer, std::size_t count) {
    const ssize_t got = ::read(fd(), buffer, count);
    if (got > 0) return static_cast<int>(got);
    // A read of a live, empty port fails with EAGAIN; 0 is the end of a
    // hung-up line.
    if (got == 0 || meansDeviceGone(errno)) {
      markGone();
      return -1;
    }
    return 0;
  }

  // Waits up to `wait` for input, in slices that look at the cancel flag.
  Readiness awaitInput(Clock::duration wait, const std::atomic<bool>* cancel) {
    const auto end = Clock::now() + wait;
    for (;;) {
      const auto left = std::max(end - Clock::now(), Clock::duration::zero());
      const Readiness ready = waitFor(fd(), POLLIN, std::min<Clock::duration>(left, kWaitSlice));
      if (ready == Readiness::Gone) markGone();
      if (ready != Readiness::Idle || left <= kWaitSlice || isCancelled(cancel)) return ready;
    }
  }

  enum class Take { Byte, Nothing, Gone };
  // One look at the line, without waiting: on a line error the input is
  // discarded; otherwise one queued byte, if any, is stored.
  Take takeOneByte(std::uint8_t& byte) {
    if (discardInputOnLineError()) return Take::Nothing;
    std::uint8_t received = 0;
    const int got = readQueued(&received, 1);
    if (got < 0) return Take::Gone;
    if (got == 0) return Take::Nothing;
    byte = received;
    return Take::Byte;
  }

  class CountedReadOnTerminal;
};

// The passes of a counted read on a terminal device. A wait ends with the
// first byte; the rest of a block is left to arrive at the line's speed and
// taken with one read, so the terminal's settings never change per block.
class SerialPort::Impl::CountedReadOnTerminal final : public CountedReadLine {
 public:
  CountedReadOnTerminal(Impl& impl, const std::atomic<bool>* cancel)
      : impl_(impl), cancel_(cancel) {}

  Clock::time_point now() override { return Clock::now(); }
  bool cancelled() override { return isCancelled(cancel_); }
  bool gone() override { return impl_.gone.load(std::memory_order_acquire); }
  int receive(std::uint8_t* buffer, std::int32_t count, Clock::duration wait) override {
    if (wait > Clock::duration::zero()) {
      switch (impl_.awaitInput(wait, cancel_)) {
        case Readiness::Gone:
          return -1;
        case Readiness::Idle:
          return 0;
        case Readiness::Ready:
          break;
      }
    }
    return impl_.readQueued(buffer, static_cast<std::size_t>(count));
  }
  Clock::duration timeToArrive(std::int32_t count) override { return impl_.byteTime * count; }
  bool discardedAfterLineError() override { return impl_.discardInputOnLineError(); }
  void pause(Clock::duration wait) override { std::this_thread::sleep_for(wait); }

 private:
  Impl& impl_;
  const std::atomic<bool>* cancel_;
};

SerialPort::SerialPort() : SerialPort(systemComResolver()) {}

SerialPort::SerialPort(std::shared_ptr<const ComResolver> resolver)
    : impl_(std::make_unique<Impl>()), resolver_(std::move(resolver)) {}

SerialPort::~SerialPort() {
  Close();
}

bool SerialPort::Open(std::uint32_t port, std::uint32_t baudRate) {
  PortOpenFailure failure;
  failure.portNumber = port;
  if (port == 0 || port > kMaxPortNumber) {
    failure.kind = OpenFailure::OutOfRange;
    lastOpenFailure_ = std::move(failure);
    return false;
  }
  Close();
  portNumber_ = port;
  devicePath_.clear();
  impl_->gone.store(false);

  const auto giveUp = [&] {
    Close();
    lastOpenFailure_ = std::move(failure);
    return false;
  };

  const ComResolution where =
      resolver_ ? resolver_->resolve(port) : ComResolution{"", "no resolver for port numbers"};
  if (where.devicePath.empty()) {
    failure.kind = OpenFailure::NoSuchPort;
    failure.unresolvedReason = where.detail;
    return giveUp();
  }
  devicePath_ = where.devicePath;
  failure.devicePath = devicePath_;

  // A speed the driver has no setting for fails before the device is touched.
  const auto speed = speedConstant(baudRate);
  if (!speed) {
    failure.kind = OpenFailure::ConfigurationFailed;
    failure.settings = SettingsProblem::UnsupportedSpeed;
    failure.baudRate = baudRate;
    return giveUp();
  }

  HeldNode node;
  if (!openAndHoldNode(devicePath_, node, failure)) return giveUp();
  impl_->port = std::move(node.fd);
  impl_->exclusive = node.exclusive;
  impl_->lineErrors.reset(impl_->fd());
  impl_->byteTime = std::chrono::nanoseconds(10'000'000'000LL / baudRate);

  if (!impl_->monitor.start(impl_->fd(), port, impl_->lineErrors, notifySink_)) {
    failure.kind = OpenFailure::MonitorFailed;
    return giveUp();
  }
  if (!applyRaw8N1(impl_->fd(), node.settings, *speed, baudRate, failure)) return giveUp();
  ::tcflush(impl_->fd(), TCIOFLUSH);

  lastOpenFailure_ = PortOpenFailure{};
  lastOpenFailure_.portNumber = port;
  lastOpenFailure_.devicePath = devicePath_;
  return true;
}

void SerialPort::Write(const std::uint8_t* buffer, std::uint32_t length) {
  if (!IsOpen()) return;
  const int fd = impl_->fd();
  if (impl_->lineErrors.take(fd) != 0) ::tcflush(fd, TCOFLUSH);
  if (buffer == nullptr || length == 0) return;

  const auto deadline =
      Clock::now() + milliseconds(static_cast<std::int64_t>(length) + kWriteGraceMs);
  std::uint32_t done = 0;
  while (done < length) {
    const ssize_t count = ::write(fd, buffer + done, length - done);
    if (count > 0) {
      done += static_cast<std::uint32_t>(count);
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const auto left = deadline - Clock::now();
      if (left <= Clock::duration::zero() || isCancelled(cancel_)) return;
      const auto wait = std::min<Clock::duration>(left, kWaitSlice);
      if (waitFor(fd, POLLOUT, wait) == Readiness::Gone) {
        impl_->markGone();
        return;
      }
      continue;
    }
    if (count < 0 && meansDeviceGone(errno)) impl_->markGone();
    return;  // nothing more can be handed over; the missing reply tells
  }
}

int SerialPort::Read(std::uint8_t* buffer, std::int32_t length, std::uint32_t timeout) {
  if (buffer == nullptr) return 0;

  if (timeout == 0) {  // poll mode: one look, one byte at most
    if (!IsOpen()) return 0;
    return impl_->takeOneByte(buffer[0]) == Impl::Take::Byte ? 1 : 0;
  }

  if (timeout == kBlocking) {
    return ReadByte(buffer[0], std::nullopt) == WaitResult::Byte ? 1 : 0;
  }

  return ReadCounted(buffer, length, timeout, std::nullopt);
}

int SerialPort::ReadCounted(std::uint8_t* buffer, std::int32_t length, std::uint32_t timeout,
                            std::optional<milliseconds> totalBound) {
  if (!IsOpen()) return 0;
  Impl::CountedReadOnTerminal line(*impl_, cancel_);
  return readCounted(line, buffer, length, {kCountedPasses, milliseconds(timeout), totalBound});
}

WaitResult SerialPort::ReadByte(std::uint8_t& byte, std::optional<milliseconds> bound) {
  const auto start = Clock::now();
  for (;;) {
    if (isCancelled(cancel_)) return WaitResult::Cancelled;
    if (!IsOpen() || IsGone()) return WaitResult::PortGone;
    Clock::duration wait = kWaitSlice;
    if (bound) {
      const auto left = *bound - (Clock::now() - start);
      if (left <= Clock::duration::zero()) return WaitResult::TimedOut;
      wait = std::min<Clock::duration>(wait, left);
    }
    // One wait and one read per byte: a byte already queued ends the wait
    // at once.
    switch (waitFor(impl_->fd(), POLLIN, wait)) {
      case Readiness::Gone:
        impl_->markGone();
        return WaitResult::PortGone;
      case Readiness::Idle:
        continue;
      case Readiness::Ready:
        break;
    }
    std::uint8_t received = 0;
    const int got = impl_->readQueued(&received, 1);
    if (got < 0) return WaitResult::PortGone;
    // A byte that came with a line error is discarded with the rest of the
    // input, and the wait goes on.
    if (got == 1 && !impl_->discardInputOnLineError()) {
      byte = received;
      return WaitResult::Byte;
    }
    // Woken for nothing (the input was discarded meanwhile): pause one step
    // rather than ask again at once.
    std::this_thread::sleep_for(std::min<Clock::duration>(wait, kBlockingStep));
  }
}

void SerialPort::PurgeInput() {
  if (IsOpen()) ::tcflush(impl_->fd(), TCIFLUSH);
}

void SerialPort::Close() {
  if (!IsOpen()) return;
  const int fd = impl_->fd();
  ::tcflush(fd, TCOFLUSH);
  impl_->monitor.stop();
  releaseNode(fd, impl_->exclusive);
  impl_->exclusive = false;
  impl_->port.reset();
}

bool SerialPort::IsOpen() const {
  return impl_->port.valid();
}

bool SerialPort::IsGone() const {
  return impl_->gone.load(std::memory_order_acquire);
}

std::string SerialPort::DeviceIdentity() const {
  return IsOpen() ? ttyDeviceIdentity(impl_->fd()) : std::string();
}

void SerialPort::SetNotifySink(SerialNotifySink* sink) {
  notifySink_ = sink;
  impl_->monitor.nudge();
}

bool SerialPort::MonitorRunning() const {
  return impl_->monitor.running();
}

}  // namespace voltrix

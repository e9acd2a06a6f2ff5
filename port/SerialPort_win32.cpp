// The port class on a Win32 communications port: \\.\COMn opened for
// exclusive, overlapped use, with a monitor thread on WaitCommEvent. Waits
// for data are ReadFiles with driver time-outs rather than polls, so that a
// reply is taken the moment it arrives and a block costs one wake-up.

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <thread>
#include <utility>

#include "platform/WideText_win32.h"
#include "port/ComMonitor_win32.h"
#include "port/CountedRead.h"
#include "port/OverlappedPort_win32.h"
#include "port/PortErrors_win32.h"
#include "port/PortSetup_win32.h"
#include "port/SerialPort.h"

namespace voltrix {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The longest a blocking read leaves one ReadFile waiting for its byte.
constexpr DWORD kLongestByteWaitMs = 1000;
// Pause after a ReadFile that ended early with nothing, so that a driver
// that does so is not asked again at once.
constexpr auto kEarlyEndPause = milliseconds(1);

}  // namespace

struct SerialPort::Impl {
  OverlappedPort io;
  ComMonitor monitor;  // after the port it watches, so that it stops first

  class CountedReadOnPort;
};

// The passes of a counted read on a communications port: one ReadFile asks
// for the rest of the block, and the driver ends it once all of it came.
class SerialPort::Impl::CountedReadOnPort final : public CountedReadLine {
 public:
  CountedReadOnPort(Impl& impl, const std::atomic<bool>* cancel) : impl_(impl), cancel_(cancel) {}

  Clock::time_point now() override { return Clock::now(); }
  bool cancelled() override { return isCancelled(cancel_); }
  bool gone() override { return impl_.io.isGone(); }
  int receive(std::uint8_t* buffer, std::int32_t count, Clock::duration wait) override {
    OverlappedPort& io = impl_.io;
    const auto wanted = static_cast<std::size_t>(count);
    std::size_t taken = io.takeStaged(buffer, wanted);
    if (taken < wanted) {
      const DWORD waitMs = ceilMs(wait);
      // Without a wait only what the driver holds is asked for, so that the
      // read ends at once.
      const std::size_t ask =
          waitMs > 0 ? wanted - taken : std::min<std::size_t>(wanted - taken, io.queuedInDriver());
      if (ask > 0) {
        io.readIntoStage(ask, waitMs, cancel_);
        taken += io.takeStaged(buffer + taken, wanted - taken);
      }
    }
    if (taken == 0 && io.isGone()) return -1;
    return static_cast<int>(taken);
  }
  Clock::duration timeToArrive(std::int32_t) override { return Clock::duration::zero(); }
  bool discardedAfterLineError() override { return impl_.io.discardInputOnLineError(); }
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

  Impl& impl = *impl_;
  if (!impl.io.ready()) {
    failure.kind = OpenFailure::MonitorFailed;
    failure.systemMessage = systemErrorText(::GetLastError());
    return giveUp();
  }
  if (!openComDevice(devicePath_, impl.io.adopt(), failure)) return giveUp();
  if (!impl.monitor.start(impl.io.handle(), port, notifySink_, impl.io.errorsTakenElsewhere(),
                          __FILE__)) {
    failure.kind = OpenFailure::MonitorFailed;
    return giveUp();
  }
  if (!configureQueues(impl.io.handle(), failure)) return giveUp();
  if (!applyRaw8N1(impl.io.handle(), baudRate, failure)) return giveUp();

  lastOpenFailure_ = PortOpenFailure{};
  lastOpenFailure_.portNumber = port;
  lastOpenFailure_.devicePath = devicePath_;
  return true;
}

void SerialPort::Write(const std::uint8_t* buffer, std::uint32_t length) {
  if (!IsOpen()) return;
  // After a line error what is still unsent goes.
  if (impl_->io.takeLineErrors()) impl_->io.discardOutput();
  if (buffer == nullptr || length == 0) return;
  // Waited for, so that the bytes are with the driver when the caller
  // starts waiting for the reply.
  impl_->io.write(buffer, length, cancel_);
}

int SerialPort::Read(std::uint8_t* buffer, std::int32_t length, std::uint32_t timeout) {
  if (buffer == nullptr) return 0;

  if (timeout == 0) {  // poll mode: one look, one byte at most
    if (!IsOpen()) return 0;
    OverlappedPort& io = impl_->io;
    if (io.discardInputOnLineError()) return 0;
    if (io.takeStaged(buffer, 1) == 1) return 1;
    if (io.queuedInDriver() == 0) return 0;
    io.readIntoStage(1, 0, cancel_);
    return static_cast<int>(io.takeStaged(buffer, 1));
  }

  if (timeout == kBlocking) {
    return ReadByte(buffer[0], std::nullopt) == WaitResult::Byte ? 1 : 0;
  }

  return ReadCounted(buffer, length, timeout, std::nullopt);
}

int SerialPort::ReadCounted(std::uint8_t* buffer, std::int32_t length, std::uint32_t timeout,
                            std::optional<milliseconds> totalBound) {
  if (!IsOpen()) return 0;
  Impl::CountedReadOnPort line(*impl_, cancel_);
  return readCounted(line, buffer, length, {kCountedPasses, milliseconds(timeout), totalBound});
}

WaitResult SerialPort::ReadByte(std::uint8_t& byte, std::optional<milliseconds> bound) {
  const auto start = Clock::now();
  OverlappedPort& io = impl_->io;
  for (;;) {
    if (isCancelled(cancel_)) return WaitResult::Cancelled;
    if (!IsOpen() || IsGone()) return WaitResult::PortGone;
    if (io.stagedCount() == 0) {
      DWORD waitMs = kLongestByteWaitMs;
      if (bound) {
        const auto left = *bound - (Clock::now() - start);
        if (left <= Clock::duration::zero()) return WaitResult::TimedOut;
        waitMs = std::min(waitMs, ceilMs(left));
      }
      // One ReadFile waits for the byte; the driver ends it when it came.
      const auto asked = Clock::now();
      if (io.readIntoStage(1, waitMs, cancel_) == 0) {
        if (IsGone()) return WaitResult::PortGone;
        if (Clock::now() - asked < milliseconds(waitMs) / 2)
          std::this_thread::sleep_for(kEarlyEndPause);
        continue;
      }
    }
    // A byte that came with a line error goes with the rest of the input.
    if (io.discardInputOnLineError()) continue;
    if (io.takeStaged(&byte, 1) == 1) return WaitResult::Byte;
  }
}

void SerialPort::PurgeInput() {
  if (IsOpen()) impl_->io.discardInput();
}

void SerialPort::Close() {
  if (!IsOpen()) return;
  Impl& impl = *impl_;
  impl.io.discardOutput();
  impl.monitor.stop();
  impl.io.close();
}

bool SerialPort::IsOpen() const {
  return impl_->io.isOpen();
}

bool SerialPort::IsGone() const {
  return impl_->io.isGone();
}

std::string SerialPort::DeviceIdentity() const {
  if (!IsOpen()) return {};
  // "\\.\COM7" names the DOS device COM7, a link to the device object
  // (\Device\VCP0, \Device\Serial0) that the driver made for the device.
  std::string name = devicePath_;
  constexpr char kDevicePrefix[] = "\\\\.\\";
  if (name.rfind(kDevicePrefix, 0) == 0) name.erase(0, sizeof kDevicePrefix - 1);
  wchar_t target[1024] = {};
  if (::QueryDosDeviceW(widen(name).c_str(), target, std::size(target)) == 0) return {};
  return narrow(target);  // the first of the names the link holds
}

void SerialPort::SetNotifySink(SerialNotifySink* sink) {
  notifySink_ = sink;
}

bool SerialPort::MonitorRunning() const {
  return impl_->monitor.running();
}

}  // namespace voltrix

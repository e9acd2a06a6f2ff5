#include "serial/SerialPort.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "serial/TermiosSpeed.h"
#ifdef __linux__
#include <linux/serial.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <system_error>
#include <utility>
#include <vector>

namespace voltrix {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Longest single wait of a blocking read between looks at the cancel flag.
constexpr auto kBlockingSlice = milliseconds(20);
// Pause of a blocking read after a wake-up that brought no byte.
constexpr auto kBlockingStep = milliseconds(1);
// Wait step and pause between passes of a counted read.
constexpr auto kCountedStep = milliseconds(2);
// Period of the monitor's look at the line.
constexpr int kMonitorPeriodMs = 50;
// A write of n bytes may wait up to n + 1000 ms for room in the driver.
constexpr int kWriteGraceMs = 1000;

// The error bits handed to the sink with UWM_COMM_ERROR.
constexpr std::uint32_t kErrorRxOver = 0x0001;
constexpr std::uint32_t kErrorOverrun = 0x0002;
constexpr std::uint32_t kErrorParity = 0x0004;
constexpr std::uint32_t kErrorFrame = 0x0008;
constexpr std::uint32_t kErrorBreak = 0x0010;

bool isCancelled(const std::atomic<bool>* cancel) {
  return cancel != nullptr && cancel->load(std::memory_order_acquire);
}

// An errno of read, write or an ioctl that says the device is gone.
bool meansGone(int error) {
  return error == EIO || error == ENODEV || error == ENXIO;
}

timespec toTimespec(Clock::duration wait) {
  if (wait < Clock::duration::zero()) wait = Clock::duration::zero();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
  const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(wait - seconds);
  return timespec{static_cast<time_t>(seconds.count()), static_cast<long>(nanoseconds.count())};
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

std::string groupName(gid_t gid) {
  std::vector<char> buffer(1024);
  group entry{};
  group* found = nullptr;
  while (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
         buffer.size() < 65536) {
    buffer.resize(buffer.size() * 2);
  }
  return found != nullptr ? std::string(found->gr_name) : std::string();
}

// "<node> (group <name>)" when the node's group may read and write it, so
// that joining that group is the way in; otherwise just the node.
std::string permissionDetail(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return path;
  if ((info.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) return path;
  const std::string group = groupName(info.st_gid);
  if (group.empty() || group == "root") return path;
  return path + " (group " + group + ")";
}

struct DetailParts {
  std::string path;  // the device node, when the detail names one
  std::string note;  // the rest
};

// Details are "<node>", "<node> (<note>)" or a note alone.
DetailParts splitDetail(const std::string& detail) {
  if (detail.empty() || detail.front() != '/') return {"", detail};
  const auto open = detail.find(" (");
  if (open == std::string::npos || detail.back() != ')') return {detail, ""};
  return {detail.substr(0, open), detail.substr(open + 2, detail.size() - open - 3)};
}

}  // namespace

struct SerialPort::Impl {
  FileDescriptor port;
  bool exclusive = false;  // TIOCEXCL was set by this open

  std::atomic<bool> gone{false};

  // Monitor thread and the pipe that wakes it for stopping.
  std::thread monitor;
  std::atomic<bool> monitorRunning{false};
  FileDescriptor wakeRead;
  FileDescriptor wakeWrite;

  // Line-error counters as last taken, by Read, Write or the monitor.
  std::mutex errorMutex;
  bool errorCountersAvailable = false;  // guarded by errorMutex
#ifdef TIOCGICOUNT
  serial_icounter_struct errorBaseline{};  // guarded by errorMutex
#endif

  int fd() const {
    return port.get();
  }

  // How many queued bytes make the port readable (the terminal's VMIN; with
  // VTIME 0 poll() honours it). A counted read raises it to the bytes it
  // still wants, so it wakes once for a whole block instead of per byte.
  cc_t minChars = 1;
  void wakeWhenQueued(int count) {
    const auto wanted = static_cast<cc_t>(std::clamp(count, 1, 255));
    if (wanted == minChars) return;
    termios settings{};
    if (::tcgetattr(fd(), &settings) != 0) return;
    settings.c_cc[VMIN] = wanted;
    if (::tcsetattr(fd(), TCSANOW, &settings) == 0) minChars = wanted;
  }

  void markGoneIf(bool condition) {
    if (condition) gone.store(true, std::memory_order_release);
  }

  void resetErrorBaseline();
  std::uint32_t takeLineErrors();

  enum class Take { Byte, Nothing, Gone };
  // One look at the line: on a line error the input is discarded; otherwise
  // one queued byte, if any, is stored.
  Take takeOneByte(std::uint8_t& byte);
  // The number of bytes received and not yet read; -1 when the port is gone.
  int queuedBytes();

  bool startMonitor(std::uint32_t portNumber, const std::atomic<SerialNotifySink*>* sink);
  void stopMonitor();
  void monitorLoop(std::uint32_t portNumber, const std::atomic<SerialNotifySink*>* sink);
};

void SerialPort::Impl::resetErrorBaseline() {
  std::lock_guard<std::mutex> lock(errorMutex);
#ifdef TIOCGICOUNT
  errorBaseline = {};
  errorCountersAvailable = ::ioctl(fd(), TIOCGICOUNT, &errorBaseline) == 0;
#else
  errorCountersAvailable = false;
#endif
}

std::uint32_t SerialPort::Impl::takeLineErrors() {
#ifdef TIOCGICOUNT
  std::lock_guard<std::mutex> lock(errorMutex);
  if (!errorCountersAvailable) return 0;
  serial_icounter_struct now{};
  if (::ioctl(fd(), TIOCGICOUNT, &now) != 0) return 0;
  std::uint32_t errors = 0;
  if (now.frame != errorBaseline.frame) errors |= kErrorFrame;
  if (now.parity != errorBaseline.parity) errors |= kErrorParity;
  if (now.overrun != errorBaseline.overrun) errors |= kErrorOverrun;
  if (now.buf_overrun != errorBaseline.buf_overrun) errors |= kErrorRxOver;
  if (now.brk != errorBaseline.brk) errors |= kErrorBreak;
  errorBaseline = now;
  return errors;
#else
  return 0;
#endif
}

int SerialPort::Impl::queuedBytes() {
  int queued = 0;
  if (::ioctl(fd(), FIONREAD, &queued) == 0) return std::max(queued, 0);
  if (meansGone(errno)) {
    markGoneIf(true);
    return -1;
  }
  return 0;  // a failed query counts as an empty queue
}

SerialPort::Impl::Take SerialPort::Impl::takeOneByte(std::uint8_t& byte) {
  if (takeLineErrors() != 0) {
    ::tcflush(fd(), TCIFLUSH);
    return Take::Nothing;
  }
  const int queued = queuedBytes();
  if (queued < 0) return Take::Gone;
  if (queued == 0) return Take::Nothing;
  std::uint8_t received = 0;
  const ssize_t count = ::read(fd(), &received, 1);
  if (count == 1) {
    byte = received;
    return Take::Byte;
  }
  // With VMIN 1 a read of a live, empty port fails with EAGAIN; 0 is the end
  // of a hung-up line.
  if (count == 0 || meansGone(errno)) {
    markGoneIf(true);
    return Take::Gone;
  }
  return Take::Nothing;
}

bool SerialPort::Impl::startMonitor(std::uint32_t portNumber,
                                    const std::atomic<SerialNotifySink*>* sink) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  wakeRead.reset(ends[0]);
  wakeWrite.reset(ends[1]);
  monitorRunning.store(true);
  try {
    monitor = std::thread(&Impl::monitorLoop, this, portNumber, sink);
  } catch (const std::system_error&) {
    monitorRunning.store(false);
    wakeRead.reset();
    wakeWrite.reset();
    return false;
  }
  return true;
}

void SerialPort::Impl::stopMonitor() {
  if (monitor.joinable()) {
    monitorRunning.store(false);
    const char wake = 1;
    while (::write(wakeWrite.get(), &wake, 1) < 0 && errno == EINTR) {
    }
    monitor.join();
  }
  monitorRunning.store(false);
  wakeRead.reset();
  wakeWrite.reset();
}

namespace {

// What the monitor last saw of the line, to notify changes only.
struct LineView {
  bool valid = false;
  bool haveModemLines = false;
  int modemLines = 0;
#ifdef TIOCGICOUNT
  bool haveCounters = false;
  serial_icounter_struct counters{};
#endif
  int queued = 0;
  int unsent = 0;
};

LineView lookAtLine(int fd) {
  LineView view;
  view.valid = true;
  view.haveModemLines = ::ioctl(fd, TIOCMGET, &view.modemLines) == 0;
#ifdef TIOCGICOUNT
  view.haveCounters = ::ioctl(fd, TIOCGICOUNT, &view.counters) == 0;
#endif
  if (::ioctl(fd, FIONREAD, &view.queued) != 0) view.queued = 0;
  if (::ioctl(fd, TIOCOUTQ, &view.unsent) != 0) view.unsent = 0;
  return view;
}

// The notifications for what changed between two looks at the line.
void notifyChanges(SerialNotifySink& sink, std::uint32_t portNumber, const LineView& before,
                   const LineView& now) {
  const auto line = [&](int bit) -> std::uint32_t { return (now.modemLines & bit) ? 1 : 0; };
  bool received = now.queued > before.queued;
  bool cts = false, dsr = false, ring = false, rlsd = false;
#ifdef TIOCGICOUNT
  if (before.haveCounters && now.haveCounters) {
    received = received || now.counters.rx != before.counters.rx;
    cts = now.counters.cts != before.counters.cts;
    dsr = now.counters.dsr != before.counters.dsr;
    ring = now.counters.rng != before.counters.rng;
    rlsd = now.counters.dcd != before.counters.dcd;
  }
#endif
  if (before.haveModemLines && now.haveModemLines) {
    const int changed = before.modemLines ^ now.modemLines;
    cts = cts || (changed & TIOCM_CTS);
    dsr = dsr || (changed & TIOCM_DSR);
    ring = ring || ((changed & TIOCM_RNG) && (now.modemLines & TIOCM_RNG));
    rlsd = rlsd || (changed & TIOCM_CD);
  }
  if (received) sink.notify(UWM_COMM_RXCHAR, portNumber, 0);
  if (cts && now.haveModemLines) sink.notify(UWM_COMM_CTS, portNumber, line(TIOCM_CTS));
  if (dsr && now.haveModemLines) sink.notify(UWM_COMM_DSR, portNumber, line(TIOCM_DSR));
  if (ring) sink.notify(UWM_COMM_RING, portNumber, 0);
  if (rlsd) sink.notify(UWM_COMM_RLSD, portNumber, 0);
  if (before.unsent > 0 && now.unsent == 0) sink.notify(UWM_COMM_TXEMPTY, portNumber, 0);
}

}  // namespace

void SerialPort::Impl::monitorLoop(std::uint32_t portNumber,
                                   const std::atomic<SerialNotifySink*>* sinkSlot) {
  pollfd wake{wakeRead.get(), POLLIN, 0};
  LineView last;
  while (monitorRunning.load()) {
    const int woken = ::poll(&wake, 1, kMonitorPeriodMs);
    if (woken > 0 || !monitorRunning.load()) break;
    if (woken < 0 && errno != EINTR) {
      std::this_thread::sleep_for(milliseconds(kMonitorPeriodMs));
      continue;
    }
    // New line errors are taken here whether or not anyone listens, as the
    // reader would otherwise find them later.
    const std::uint32_t errors = takeLineErrors();
    SerialNotifySink* sink = sinkSlot->load(std::memory_order_acquire);
    if (sink == nullptr) {
      last.valid = false;
      continue;
    }
    if (errors != 0) {
      if (errors & kErrorBreak) sink->notify(UWM_COMM_BREAK, portNumber, 0);
      sink->notify(UWM_COMM_ERROR, portNumber, errors);
    }
    const LineView now = lookAtLine(fd());
    if (last.valid) notifyChanges(*sink, portNumber, last, now);
    last = now;
  }
}

SerialPort::SerialPort() : SerialPort(systemComResolver()) {}

SerialPort::SerialPort(std::shared_ptr<const ComResolver> resolver)
    : impl_(std::make_unique<Impl>()), resolver_(std::move(resolver)) {}

SerialPort::~SerialPort() {
  Close();
}

bool SerialPort::Open(std::uint32_t port, std::uint32_t baudRate) {
  if (port == 0 || port > kMaxPortNumber) {
    lastOpenFailure_ = OpenFailure::OutOfRange;
    lastOpenDetail_ = "COM" + std::to_string(port);
    return false;
  }
  Close();
  portNumber_ = port;
  devicePath_.clear();
  impl_->gone.store(false);

  const auto fail = [this](OpenFailure failure, std::string detail) {
    Close();
    lastOpenFailure_ = failure;
    lastOpenDetail_ = std::move(detail);
    return false;
  };

  const ComResolution where =
      resolver_ ? resolver_->resolve(port) : ComResolution{"", "no resolver for port numbers"};
  if (where.devicePath.empty()) {
    return fail(OpenFailure::NoSuchPort, where.detail.empty()
                                             ? "COM" + std::to_string(port) + " has no device node"
                                             : where.detail);
  }
  devicePath_ = where.devicePath;

  // A speed the driver has no setting for fails before the device is touched.
  const auto speed = speedConstant(baudRate);
  if (!speed) {
    return fail(OpenFailure::ConfigurationFailed,
                devicePath_ + " (unsupported baud rate " + std::to_string(baudRate) + ")");
  }

  FileDescriptor fd(::open(devicePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    const int error = errno;
    switch (error) {
      case ENOENT:
      case ENXIO:
      case ENODEV:
      case ENOTDIR:
        return fail(OpenFailure::NoSuchPort, devicePath_);
      case EACCES:
      case EPERM:
      case EROFS:
        return fail(OpenFailure::PermissionDenied, permissionDetail(devicePath_));
      case EBUSY:
        return fail(OpenFailure::PortBusy, devicePath_);
      case EISDIR:
        return fail(OpenFailure::NotASerialPort, devicePath_);
      default:
        return fail(OpenFailure::NoSuchPort, devicePath_ + " (" + std::strerror(error) + ")");
    }
  }

  termios settings{};
  if (::tcgetattr(fd.get(), &settings) != 0) {
    const int error = errno;
    if (meansGone(error)) {
      return fail(OpenFailure::NoSuchPort, devicePath_ + " (" + std::strerror(error) + ")");
    }
    return fail(OpenFailure::NotASerialPort, devicePath_);
  }

  // TIOCEXCL keeps other openers out but not root; the lock keeps out every
  // opener that asks for it the same way, root included.
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    return fail(OpenFailure::PortBusy, devicePath_);
  }
  impl_->exclusive = ::ioctl(fd.get(), TIOCEXCL) == 0;
  impl_->port = std::move(fd);
  impl_->resetErrorBaseline();

  if (!impl_->startMonitor(port, &notifySink_)) {
    return fail(OpenFailure::MonitorFailed, devicePath_);
  }

  // Raw 8N1 at the requested speed. Hardware flow control and the modem
  // control lines stay as the driver has them.
  ::cfmakeraw(&settings);
  settings.c_iflag &= ~static_cast<tcflag_t>(IXOFF | IXANY | INPCK);
  settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
  settings.c_cflag |= CREAD | CLOCAL;
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  if (::cfsetispeed(&settings, *speed) != 0 || ::cfsetospeed(&settings, *speed) != 0 ||
      ::tcsetattr(impl_->fd(), TCSANOW, &settings) != 0) {
    return fail(OpenFailure::ConfigurationFailed, devicePath_ + " (" + std::strerror(errno) + ")");
  }
  // tcsetattr succeeds when any part was applied: check what matters.
  termios applied{};
  if (::tcgetattr(impl_->fd(), &applied) != 0 || ::cfgetospeed(&applied) != *speed ||
      (applied.c_cflag & CSIZE) != CS8 || (applied.c_cflag & (PARENB | CSTOPB)) != 0 ||
      (applied.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) != 0 || (applied.c_oflag & OPOST) != 0 ||
      (applied.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP)) != 0) {
    return fail(OpenFailure::ConfigurationFailed, devicePath_ +
                                                      " (the driver did not take raw 8N1 at " +
                                                      std::to_string(baudRate) + " baud)");
  }
  ::tcflush(impl_->fd(), TCIOFLUSH);

  lastOpenFailure_ = OpenFailure::None;
  lastOpenDetail_ = devicePath_;
  return true;
}

void SerialPort::Write(const std::uint8_t* buffer, std::uint32_t length) {
  if (!IsOpen()) return;
  const int fd = impl_->fd();
  if (impl_->takeLineErrors() != 0) ::tcflush(fd, TCOFLUSH);
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
      const auto wait = std::min<Clock::duration>(left, kBlockingSlice);
      if (waitFor(fd, POLLOUT, wait) == Readiness::Gone) {
        impl_->markGoneIf(true);
        return;
      }
      continue;
    }
    impl_->markGoneIf(count < 0 && meansGone(errno));
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
  // Up to kCountedPasses passes, each waiting up to `timeout` ms for the rest
  // of the bytes and then taking what is queued.
  if (buffer == nullptr || length <= 0 || !IsOpen()) return 0;
  const int fd = impl_->fd();
  const auto start = Clock::now();
  const auto deadline =
      totalBound ? std::optional<Clock::time_point>(start + *totalBound) : std::nullopt;
  // The end of a wait that began at `from` and may last `wait`.
  const auto waitEnd = [&](Clock::time_point from, Clock::duration wait) {
    const auto end = from + wait;
    return deadline ? std::min(end, *deadline) : end;
  };
  std::int32_t total = 0;
  // Back to waking on the first byte whichever way the read ends.
  struct MinCharsReset {
    Impl& impl;
    ~MinCharsReset() {
      if (impl.port.valid()) impl.wakeWhenQueued(1);
    }
  } minCharsReset{*impl_};
  // Whether poll() waits for VMIN bytes here; a driver that wakes for fewer
  // is paced with short sleeps instead.
  bool readinessHonoursMin = true;
  for (int pass = 0; pass < kCountedPasses; ++pass) {
    if (isCancelled(cancel_) || IsGone()) return total;
    if (deadline && Clock::now() >= *deadline) return total;
    const std::int32_t remaining = length - total;
    impl_->wakeWhenQueued(remaining);

    bool lineError = false;
    int queued = 0;
    const auto passEnd = waitEnd(Clock::now(), milliseconds(timeout));
    for (;;) {
      if (impl_->takeLineErrors() != 0) {
        ::tcflush(fd, TCIFLUSH);
        lineError = true;
        break;
      }
      queued = impl_->queuedBytes();
      if (queued < 0) return total;
      if (queued >= remaining) break;
      const auto now = Clock::now();
      if (now >= passEnd) break;
      if (isCancelled(cancel_)) return total;
      if (queued > 0 && !readinessHonoursMin) {
        // Readiness would not wait while data is queued: sleep the step.
        std::this_thread::sleep_for(std::min<Clock::duration>(kCountedStep, passEnd - now));
        continue;
      }
      switch (waitFor(fd, POLLIN, std::min<Clock::duration>(kBlockingSlice, passEnd - now))) {
        case Readiness::Gone:
          impl_->markGoneIf(true);
          return total;
        case Readiness::Ready:
          if (impl_->queuedBytes() < remaining) readinessHonoursMin = false;
          break;
        case Readiness::Idle:
          break;
      }
    }

    if (!lineError) {
      const std::int32_t take = std::min<std::int32_t>(remaining, queued);
      if (take > 0) {
        const ssize_t count = ::read(fd, buffer + total, static_cast<std::size_t>(take));
        if (count > 0) {
          total += static_cast<std::int32_t>(count);
        } else if (count == 0 || meansGone(errno)) {
          impl_->markGoneIf(true);
          return total;
        }
      }
    }
    if (total >= length || pass + 1 == kCountedPasses) return total;
    const auto now = Clock::now();
    if (waitFor(fd, POLLIN, waitEnd(now, kCountedStep) - now) == Readiness::Gone) {
      impl_->markGoneIf(true);
      return total;
    }
  }
  return total;
}

WaitResult SerialPort::ReadByte(std::uint8_t& byte, std::optional<milliseconds> bound) {
  const auto start = Clock::now();
  bool wokenForNothing = false;
  for (;;) {
    if (isCancelled(cancel_)) return WaitResult::Cancelled;
    if (!IsOpen() || IsGone()) return WaitResult::PortGone;
    switch (impl_->takeOneByte(byte)) {
      case Impl::Take::Byte:
        return WaitResult::Byte;
      case Impl::Take::Gone:
        return WaitResult::PortGone;
      case Impl::Take::Nothing:
        break;
    }
    Clock::duration wait = kBlockingSlice;
    if (bound) {
      const auto left = *bound - (Clock::now() - start);
      if (left <= Clock::duration::zero()) return WaitResult::TimedOut;
      wait = std::min<Clock::duration>(wait, left);
    }
    if (wokenForNothing) {
      // The last wake-up brought no byte (input discarded after a line
      // error): pause one step rather than ask again at once.
      std::this_thread::sleep_for(std::min<Clock::duration>(wait, kBlockingStep));
      wokenForNothing = false;
      continue;
    }
    switch (waitFor(impl_->fd(), POLLIN, wait)) {
      case Readiness::Gone:
        impl_->markGoneIf(true);
        return WaitResult::PortGone;
      case Readiness::Ready:
        wokenForNothing = true;
        break;
      case Readiness::Idle:
        break;
    }
  }
}

void SerialPort::PurgeInput() {
  if (IsOpen()) ::tcflush(impl_->fd(), TCIFLUSH);
}

void SerialPort::Close() {
  if (!IsOpen()) return;
  const int fd = impl_->fd();
  ::tcflush(fd, TCOFLUSH);
  impl_->stopMonitor();
  // The flag belongs to the terminal, not to this descriptor: other openers
  // of the device side would still find it after the close.
  if (impl_->exclusive) ::ioctl(fd, TIOCNXCL);
  impl_->exclusive = false;
  ::flock(fd, LOCK_UN);
  impl_->port.reset();
}

bool SerialPort::IsOpen() const {
  return impl_->port.valid();
}

bool SerialPort::IsGone() const {
  return impl_->gone.load(std::memory_order_acquire);
}

bool SerialPort::MonitorRunning() const {
  return impl_->monitorRunning.load();
}

std::string describeOpenFailure(OpenFailure failure, const std::string& detail) {
  const DetailParts parts = splitDetail(detail);
  const std::string port = parts.path.empty() ? std::string("the port") : parts.path;
  const std::string note = parts.note.empty() ? std::string() : " (" + parts.note + ")";
  switch (failure) {
    case OpenFailure::None:
      return "The port " + port + " is open.";
    case OpenFailure::OutOfRange:
      return "The port number is out of range" + (detail.empty() ? "" : " (" + detail + ")") +
             ": COM ports are numbered 1 to 1024.";
    case OpenFailure::NoSuchPort:
      if (parts.path.empty()) {
        return "No serial port found" + (detail.empty() ? "" : ": " + detail) +
               ". Check that the device is connected.";
      }
      if (!parts.note.empty()) {
        return "The serial port " + port + " cannot be opened" + note +
               ": check that the device is connected.";
      }
      return "The serial port " + port + " does not exist: check that the device is connected.";
    case OpenFailure::PermissionDenied: {
      const std::string prefix = "group ";
      if (parts.note.rfind(prefix, 0) == 0) {
        const std::string group = parts.note.substr(prefix.size());
        return "Permission denied on " + port + ": add your user to the '" + group +
               "' group (sudo usermod -aG " + group + " $USER) and log in again.";
      }
      return "Permission denied on " + port + ": ask for read and write access to it.";
    }
    case OpenFailure::PortBusy:
      return "The port " + port + " is held by another program.";
    case OpenFailure::NotASerialPort:
      return (parts.path.empty() ? std::string("The device") : parts.path) +
             " is not a serial port.";
    case OpenFailure::ConfigurationFailed:
      return "The line settings could not be applied to " + port + note + ".";
    case OpenFailure::MonitorFailed:
      return "The port " + port + " could not be watched: its monitor thread did not start.";
  }
  return "The port " + port + " could not be opened.";
}

}  // namespace voltrix

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/FileDescriptor_posix.h"
#include "platform/PosixTime_posix.h"
#include "sim/LineClock.h"
#include "sim/LoaderProtocol.h"
#include "sim/PseudoTerminal.h"
#include "sim/ZetakSimulator.h"

namespace voltrix::sim {

namespace {

using Clock = std::chrono::steady_clock;

// Bytes from the host that have been read but not yet delivered by the
// (paced) line; beyond this the host's writes wait in the kernel.
constexpr std::size_t kMaxPendingFromHost = 4096;

constexpr auto kEarlyWake = std::chrono::microseconds(60);

struct TimedByte {
  std::uint8_t byte;
  Clock::time_point at;  // when the line has carried it across
};

}  // namespace

struct ZetakSimulator::Impl {
  explicit Impl(const SimConfig& simConfig) : config(simConfig), protocol(simConfig) {}

  void serve();
  bool deliverArrivedBytes();
  bool sendDueBytes();
  bool readFromHost();

  const SimConfig config;
  std::string devicePath;
  bool started = false;
  PseudoTerminal terminal;
  FileDescriptor stopEvent;
  std::thread thread;

  // Only the serving thread touches these.
  LineClock fromHost{config.baudRate, config.paced};
  LineClock toHost{config.baudRate, config.paced};
  std::deque<TimedByte> inbound;
  std::deque<TimedByte> outbound;
  bool writeBlocked = false;
  // With answerInTurn: when the answer being prepared is ready.
  Clock::time_point busyUntil{};

  mutable std::mutex mutex;  // guards what the accessors read
  LoaderProtocol protocol;
  std::vector<TranscriptEntry> transcript;
  bool hungUp = false;
};

void ZetakSimulator::Impl::serve() {
  // The line's timing is the simulator's whole point: wake at each byte's
  // time, not up to the default 50 us of timer slack later.
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  bool lineUp = true;
  for (;;) {
    if (lineUp) lineUp = deliverArrivedBytes() && sendDueBytes();

    std::optional<Clock::time_point> deadline;
    if (lineUp && !inbound.empty()) {
      // Only a byte that may be answered needs the line's exact time: the
      // quiet ones before it are handed over with it, which spares a wake-up
      // per data byte.
      std::size_t quiet = 0;
      {
        std::lock_guard lock(mutex);
        quiet = protocol.quietBytesAhead();
      }
      deadline = inbound[std::min(quiet, inbound.size() - 1)].at;
    }
    if (lineUp && !outbound.empty() && !writeBlocked) {
      deadline = deadline ? std::min(*deadline, outbound.front().at) : outbound.front().at;
    }

    pollfd watched[2] = {{stopEvent.get(), POLLIN, 0}, {-1, 0, 0}};
    if (lineUp) {
      watched[1].fd = terminal.master.get();
      watched[1].events = static_cast<short>((inbound.size() < kMaxPendingFromHost ? POLLIN : 0) |
                                             (writeBlocked ? POLLOUT : 0));
    }
    timespec timeout{};
    // Wake a little early and spin to the byte's time: waking from a sleep
    // costs tens of microseconds per reply, which would make every simulated
    // turnaround slower than the line it stands for.
    if (deadline) timeout = toTimespec(*deadline - kEarlyWake - Clock::now());
    const int ready = ::ppoll(watched, lineUp ? 2 : 1, deadline ? &timeout : nullptr, nullptr);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (watched[0].revents != 0) return;
    if (!lineUp) continue;
    const short events = watched[1].revents;
    if (events & POLLOUT) writeBlocked = false;
    if (events & POLLIN) {
      lineUp = readFromHost();
    } else if (events & (POLLHUP | POLLERR | POLLNVAL)) {
      // Only possible if the device side was hung up from outside.
      lineUp = false;
    }
  }
}

bool ZetakSimulator::Impl::readFromHost() {
  std::array<std::uint8_t, 1024> buffer;
  const std::size_t room = std::min(buffer.size(), kMaxPendingFromHost - inbound.size());
  const ssize_t count = ::read(terminal.master.get(), buffer.data(), room);
  if (count < 0) return errno == EAGAIN || errno == EINTR;
  if (count == 0) return false;
  const Clock::time_point now = Clock::now();
  for (ssize_t i = 0; i < count; ++i) inbound.push_back({buffer[i], fromHost.deliver(now)});
  return true;
}

bool ZetakSimulator::Impl::deliverArrivedBytes() {
  const Clock::time_point now = Clock::now();
  while (!inbound.empty() && inbound.front().at <= now) {
    const TimedByte arrived = inbound.front();
    inbound.pop_front();
    LoaderAnswer answer;
    {
      std::lock_guard lock(mutex);
      transcript.push_back({true, arrived.byte});
      answer = protocol.receive(arrived.byte);
      hungUp = hungUp || answer.hangUp;
    }
    if (answer.hangUp) {
      // Like a device pulled from the USB port: the host's next read fails.
      terminal.master.reset();
      terminal.slave.reset();
      inbound.clear();
      outbound.clear();
      return false;
    }
    Clock::time_point ready = arrived.at + config.replyLatency + answer.lateBy;
    if (config.answerInTurn && !answer.bytes.empty()) {
      ready = std::max(arrived.at, busyUntil) + config.replyLatency + answer.lateBy;
      busyUntil = ready;
    }
    for (std::uint8_t byte : answer.bytes) outbound.push_back({byte, toHost.deliver(ready)});
  }
  return true;
}

bool ZetakSimulator::Impl::sendDueBytes() {
  if (writeBlocked) return true;
  const Clock::time_point now = Clock::now();
  std::array<std::uint8_t, 256> due;
  std::size_t count = 0;
  while (count < outbound.size() && count < due.size() && outbound[count].at <= now) {
    due[count] = outbound[count].byte;
    ++count;
  }
  if (count == 0) return true;

  ssize_t written;
  {
    // Written and recorded under one lock, so a reader that has seen the
    // byte arrive also finds it in the transcript.
    std::lock_guard lock(mutex);
    written = ::write(terminal.master.get(), due.data(), count);
    for (ssize_t i = 0; i < written; ++i) transcript.push_back({false, due[i]});
  }
  if (written < 0) {
    if (errno == EAGAIN) writeBlocked = true;
    return errno == EAGAIN || errno == EINTR;
  }
  outbound.erase(outbound.begin(), outbound.begin() + written);
  if (static_cast<std::size_t>(written) < count) writeBlocked = true;
  return true;
}

ZetakSimulator::ZetakSimulator(SimConfig config) : impl_(std::make_unique<Impl>(config)) {}

ZetakSimulator::~ZetakSimulator() {
  stop();
}

bool ZetakSimulator::start() {
  Impl& impl = *impl_;
  if (impl.started) return false;
  if (impl.config.baudRate == 0) {
    errno = EINVAL;
    return false;
  }
  if (!openPseudoTerminal(impl.config.baudRate, impl.terminal)) return false;
  impl.stopEvent.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!impl.stopEvent) {
    const int error = errno;
    impl.terminal = PseudoTerminal{};
    errno = error;
    return false;
  }
  impl.devicePath = impl.terminal.slavePath;
  try {
    impl.thread = std::thread([&impl] { impl.serve(); });
  } catch (const std::system_error& error) {
    impl.terminal = PseudoTerminal{};
    impl.stopEvent.reset();
    errno = error.code().value();
    return false;
  }
  impl.started = true;
  return true;
}

void ZetakSimulator::stop() {
  Impl& impl = *impl_;
  if (impl.thread.joinable()) {
    const std::uint64_t wake = 1;
    // Cannot fail short of a counter overflow; the thread ends on the first.
    [[maybe_unused]] const ssize_t ignored = ::write(impl.stopEvent.get(), &wake, sizeof wake);
    impl.thread.join();
  }
  impl.terminal = PseudoTerminal{};
  impl.stopEvent.reset();
}

const std::string& ZetakSimulator::devicePath() const {
  return impl_->devicePath;
}

std::map<std::uint32_t, std::uint8_t> ZetakSimulator::memory() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->protocol.memory().snapshot();
}

std::vector<std::uint8_t> ZetakSimulator::memoryRange(std::uint32_t address,
                                                      std::uint32_t length) const {
  std::lock_guard lock(impl_->mutex);
  std::vector<std::uint8_t> bytes(length);
  for (std::uint32_t i = 0; i < length; ++i) {
    bytes[i] = impl_->protocol.memory().load(address + i, kUnwrittenMemory);
  }
  return bytes;
}

std::vector<TranscriptEntry> ZetakSimulator::transcript() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->transcript;
}

std::vector<std::uint8_t> ZetakSimulator::bytesFromHost() const {
  std::lock_guard lock(impl_->mutex);
  std::vector<std::uint8_t> bytes;
  for (const TranscriptEntry& entry : impl_->transcript) {
    if (entry.fromHost) bytes.push_back(entry.byte);
  }
  return bytes;
}

std::vector<std::uint8_t> ZetakSimulator::bytesToHost() const {
  std::lock_guard lock(impl_->mutex);
  std::vector<std::uint8_t> bytes;
  for (const TranscriptEntry& entry : impl_->transcript) {
    if (!entry.fromHost) bytes.push_back(entry.byte);
  }
  return bytes;
}

std::optional<std::uint8_t> ZetakSimulator::endOfRunByte() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->protocol.endOfRunByte();
}

int ZetakSimulator::syncRequests() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->protocol.syncRequests();
}

bool ZetakSimulator::hungUp() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->hungUp;
}

void ZetakSimulator::clearTranscript() {
  std::lock_guard lock(impl_->mutex);
  impl_->transcript.clear();
}

}  // namespace voltrix::sim

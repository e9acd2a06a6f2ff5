#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <deque>
#include <functional>
#include <mutex>
#include <queue>
#include <system_error>
#include <thread>

#include "platform/FileDescriptor_posix.h"
#include "platform/PosixTime_posix.h"
#include "sim/LineClock.h"
#include "sim/LoaderProtocol.h"
#include "sim/PseudoTerminal.h"
#include "sim/SimulatorRig.h"

namespace voltrix::sim {

namespace {

// The timer runs on CLOCK_MONOTONIC, which is what steady_clock reads here.
using Clock = std::chrono::steady_clock;

// How far the host may write ahead of the line (bytes still crossing it) and
// how much answer may wait for a host that does not read; beyond either the
// host's writes wait in the kernel.
constexpr std::size_t kMaxPendingFromHost = 4096;
constexpr std::size_t kMaxPendingToHost = 4096;

constexpr std::uint64_t kStopKey = ~std::uint64_t{0};
constexpr std::uint64_t kTimerKey = kStopKey - 1;

// One answer, written in one piece once the line has carried its last byte.
struct Answer {
  std::vector<std::uint8_t> bytes;
  Clock::time_point due;
};

struct DueTime {
  Clock::time_point at;
  std::size_t device;
  bool operator>(const DueTime& other) const { return at > other.at; }
};

// The loader has no clock, so each byte is handed to it as soon as it is
// read, with the time the line will have carried it across; what it answers
// is timed from that moment. Only the answers (and a hang-up) then need a
// wake-up of their own, not every byte of a header.
struct RigDevice {
  explicit RigDevice(const SimConfig& simConfig)
      : config(simConfig),
        fromHost(simConfig.baudRate, simConfig.paced),
        toHost(simConfig.baudRate, simConfig.paced),
        protocol(simConfig) {}

  const SimConfig config;
  std::string path;
  PseudoTerminal terminal;

  // Only the serving thread touches these.
  LineClock fromHost;
  LineClock toHost;
  Clock::time_point lastArrival{};  // of the host's latest byte
  std::deque<Answer> outbound;
  std::size_t outboundBytes = 0;
  std::size_t frontWritten = 0;  // of outbound.front(), after a short write
  std::optional<Clock::time_point> hangUpAt;
  bool writeBlocked = false;
  bool lineUp = true;
  Clock::time_point busyUntil{};               // with answerInTurn
  std::optional<Clock::time_point> scheduled;  // the due time in the heap that counts
  std::uint32_t watched = 0;                   // the epoll events asked for

  // Changed by the serving thread under the rig's mutex, which the
  // accessors take; the serving thread reads them without it.
  LoaderProtocol protocol;
  bool hungUp = false;

  // When the host may write again after running this far ahead of the line.
  Clock::time_point readableAgainAt() const {
    return lastArrival - fromHost.byteTime() * static_cast<long>(kMaxPendingFromHost);
  }
};

}  // namespace

struct SimulatorRig::Impl {
  void serve();
  void serviceDueDevices();
  void service(std::size_t index);
  void readFromHost(RigDevice& device);
  void answer(RigDevice& device, std::uint8_t byte, Clock::time_point arrived);
  void releaseDueAnswers(RigDevice& device, Clock::time_point now);
  void hangUp(RigDevice& device);
  void takeLineDown(RigDevice& device);
  bool mayRead(const RigDevice& device, Clock::time_point now) const;
  void schedule(std::size_t index);
  void watch(std::size_t index);
  void armTimer();
  bool open();
  void close();

  std::vector<std::unique_ptr<RigDevice>> devices;
  bool started = false;
  FileDescriptor epoll;
  FileDescriptor timer;
  FileDescriptor stopEvent;
  std::thread thread;

  // Only the serving thread touches these.
  std::priority_queue<DueTime, std::vector<DueTime>, std::greater<>> dueTimes;
  std::optional<Clock::time_point> armedFor;
  bool timerFired = false;
  std::vector<std::uint8_t> scratch;

  mutable std::mutex mutex;  // guards what the accessors read
  std::uint64_t released = 0;
  std::chrono::nanoseconds totalLateness{0};
  std::chrono::nanoseconds worstLateness{0};
};

void SimulatorRig::Impl::serve() {
  // The line's timing is the rig's whole point: wake at the due time, not up
  // to the default 50 us of timer slack later.
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  std::array<epoll_event, 64> events;
  for (;;) {
    serviceDueDevices();
    armTimer();
    const int ready = ::epoll_wait(epoll.get(), events.data(), static_cast<int>(events.size()), -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return;
    }
    for (int i = 0; i < ready; ++i) {
      const std::uint64_t key = events[i].data.u64;
      if (key == kStopKey) return;
      if (key == kTimerKey) {
        // Re-arming (or disarming) it clears the expiry; no read needed.
        timerFired = true;
        continue;
      }
      RigDevice& device = *devices[key];
      if (!device.lineUp) continue;
      if (events[i].events & EPOLLOUT) device.writeBlocked = false;
      if (events[i].events & EPOLLIN) {
        readFromHost(device);
      } else if (events[i].events & (EPOLLHUP | EPOLLERR)) {
        // Only possible if the device side was hung up from outside.
        takeLineDown(device);
      }
      service(key);
    }
  }
}

void SimulatorRig::Impl::serviceDueDevices() {
  while (!dueTimes.empty()) {
    const DueTime top = dueTimes.top();
    RigDevice& device = *devices[top.device];
    // An entry whose device has been given another time since is dropped.
    if (device.scheduled != top.at) {
      dueTimes.pop();
      continue;
    }
    if (top.at > Clock::now()) return;
    dueTimes.pop();
    device.scheduled.reset();
    service(top.device);
  }
}

void SimulatorRig::Impl::service(std::size_t index) {
  RigDevice& device = *devices[index];
  const Clock::time_point now = Clock::now();
  if (device.lineUp) releaseDueAnswers(device, now);
  if (device.lineUp && device.hangUpAt && *device.hangUpAt <= now) hangUp(device);
  schedule(index);
  watch(index);
}

void SimulatorRig::Impl::readFromHost(RigDevice& device) {
  std::array<std::uint8_t, 1024> buffer;
  const ssize_t count = ::read(device.terminal.master.get(), buffer.data(), buffer.size());
  if (count < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (count <= 0) {
    takeLineDown(device);
    return;
  }
  const Clock::time_point now = Clock::now();
  std::lock_guard lock(mutex);
  for (ssize_t i = 0; i < count && !device.hangUpAt; ++i) {
    device.lastArrival = device.fromHost.deliver(now);
    answer(device, buffer[i], device.lastArrival);
  }
}

void SimulatorRig::Impl::answer(RigDevice& device, std::uint8_t byte, Clock::time_point arrived) {
  const SimConfig& config = device.config;
  LoaderAnswer answer = device.protocol.receive(byte);
  if (answer.hangUp) {
    // What follows this byte never reaches the device.
    device.hangUpAt = arrived;
    return;
  }
  if (answer.bytes.empty()) return;
  Clock::time_point ready = arrived + config.replyLatency + answer.lateBy;
  if (config.answerInTurn) {
    ready = std::max(arrived, device.busyUntil) + config.replyLatency + answer.lateBy;
    device.busyUntil = ready;
  }
  Clock::time_point lastDelivered = ready;
  for (std::size_t i = 0; i < answer.bytes.size(); ++i)
    lastDelivered = device.toHost.deliver(ready);
  device.outboundBytes += answer.bytes.size();
  device.outbound.push_back({std::move(answer.bytes), lastDelivered});
}

void SimulatorRig::Impl::releaseDueAnswers(RigDevice& device, Clock::time_point now) {
  if (device.writeBlocked) return;
  // Answers due after a hang-up never leave.
  const Clock::time_point until = device.hangUpAt ? std::min(now, *device.hangUpAt) : now;
  scratch.clear();
  std::size_t dueAnswers = 0;
  for (const Answer& answer : device.outbound) {
    if (answer.due > until) break;
    const std::size_t skip = dueAnswers == 0 ? device.frontWritten : 0;
    scratch.insert(scratch.end(), answer.bytes.begin() + static_cast<std::ptrdiff_t>(skip),
                   answer.bytes.end());
    ++dueAnswers;
  }
  if (dueAnswers == 0) return;

  const ssize_t written = ::write(device.terminal.master.get(), scratch.data(), scratch.size());
  if (written < 0) {
    if (errno == EAGAIN) {
      device.writeBlocked = true;
    } else if (errno != EINTR) {
      takeLineDown(device);
    }
    return;
  }
  // Whole answers that went out now count towards the lateness.
  std::size_t left = static_cast<std::size_t>(written);
  std::lock_guard lock(mutex);
  while (!device.outbound.empty()) {
    const Answer& front = device.outbound.front();
    const std::size_t rest = front.bytes.size() - device.frontWritten;
    if (left < rest) {
      device.frontWritten += left;
      device.outboundBytes -= left;
      device.writeBlocked = true;
      return;
    }
    left -= rest;
    device.outboundBytes -= rest;
    const std::chrono::nanoseconds late = now - front.due;
    ++released;
    totalLateness += late;
    worstLateness = std::max(worstLateness, late);
    device.outbound.pop_front();
    device.frontWritten = 0;
    if (left == 0) return;
  }
}

void SimulatorRig::Impl::hangUp(RigDevice& device) {
  // Like a device pulled from the USB port: the host's next read fails, and
  // the other devices go on.
  std::lock_guard lock(mutex);
  device.hungUp = true;
  takeLineDown(device);
  device.terminal.master.reset();
  device.terminal.slave.reset();
}

void SimulatorRig::Impl::takeLineDown(RigDevice& device) {
  device.lineUp = false;
  device.outbound.clear();
  device.outboundBytes = 0;
  device.frontWritten = 0;
  if (device.terminal.master) {
    ::epoll_ctl(epoll.get(), EPOLL_CTL_DEL, device.terminal.master.get(), nullptr);
  }
  device.watched = 0;
}

bool SimulatorRig::Impl::mayRead(const RigDevice& device, Clock::time_point now) const {
  return !device.hangUpAt && device.outboundBytes < kMaxPendingToHost &&
         device.readableAgainAt() <= now;
}

void SimulatorRig::Impl::schedule(std::size_t index) {
  RigDevice& device = *devices[index];
  std::optional<Clock::time_point> due;
  const auto consider = [&due](Clock::time_point at) { due = due ? std::min(*due, at) : at; };
  if (device.lineUp) {
    if (!device.outbound.empty() && !device.writeBlocked) consider(device.outbound.front().due);
    if (device.hangUpAt) consider(*device.hangUpAt);
    // A host far ahead of the line may write again once it has caught up.
    if (device.readableAgainAt() > Clock::now()) consider(device.readableAgainAt());
  }
  if (due && due != device.scheduled) dueTimes.push({*due, index});
  device.scheduled = due;
}

void SimulatorRig::Impl::watch(std::size_t index) {
  RigDevice& device = *devices[index];
  if (!device.lineUp) return;
  const std::uint32_t wanted =
      (mayRead(device, Clock::now()) ? EPOLLIN : 0u) | (device.writeBlocked ? EPOLLOUT : 0u);
  if (wanted == device.watched) return;
  epoll_event event{};
  event.events = wanted;
  event.data.u64 = index;
  if (::epoll_ctl(epoll.get(), EPOLL_CTL_MOD, device.terminal.master.get(), &event) == 0) {
    device.watched = wanted;
  }
}

void SimulatorRig::Impl::armTimer() {
  const std::optional<Clock::time_point> earliest =
      dueTimes.empty() ? std::nullopt : std::optional(dueTimes.top().at);
  if (earliest == armedFor && !timerFired) return;
  itimerspec when{};  // all zero disarms it
  if (earliest) {
    when.it_value = toTimespec(earliest->time_since_epoch());
    // A zero time would disarm the timer instead of firing it at once.
    if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0) when.it_value.tv_nsec = 1;
  }
  if (::timerfd_settime(timer.get(), TFD_TIMER_ABSTIME, &when, nullptr) == 0) {
    armedFor = earliest;
    timerFired = false;
  }
}

bool SimulatorRig::Impl::open() {
  for (const auto& device : devices) {
    if (device->config.baudRate == 0) {
      errno = EINVAL;
      return false;
    }
    if (!openPseudoTerminal(device->config.baudRate, device->terminal)) return false;
    device->path = device->terminal.slavePath;
  }
  epoll.reset(::epoll_create1(EPOLL_CLOEXEC));
  timer.reset(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
  stopEvent.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!epoll || !timer || !stopEvent) return false;
  const auto add = [this](int fd, std::uint64_t key) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = key;
    return ::epoll_ctl(epoll.get(), EPOLL_CTL_ADD, fd, &event) == 0;
  };
  if (!add(stopEvent.get(), kStopKey) || !add(timer.get(), kTimerKey)) return false;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (!add(devices[i]->terminal.master.get(), i)) return false;
    devices[i]->watched = EPOLLIN;
  }
  return true;
}

void SimulatorRig::Impl::close() {
  for (const auto& device : devices) device->terminal = PseudoTerminal{};
  epoll.reset();
  timer.reset();
  stopEvent.reset();
}

SimulatorRig::SimulatorRig(std::vector<SimConfig> configs) : impl_(std::make_unique<Impl>()) {
  for (const SimConfig& config : configs) {
    impl_->devices.push_back(std::make_unique<RigDevice>(config));
  }
}

SimulatorRig::~SimulatorRig() {
  stop();
}

bool SimulatorRig::start() {
  Impl& impl = *impl_;
  if (impl.started) return false;
  impl.started = true;
  if (!impl.open()) {
    const int error = errno;
    impl.close();
    errno = error;
    return false;
  }
  try {
    impl.thread = std::thread([&impl] { impl.serve(); });
  } catch (const std::system_error& error) {
    impl.close();
    errno = error.code().value();
    return false;
  }
  return true;
}

void SimulatorRig::stop() {
  Impl& impl = *impl_;
  if (impl.thread.joinable()) {
    const std::uint64_t wake = 1;
    // Cannot fail short of a counter overflow; the thread ends on the first.
    [[maybe_unused]] const ssize_t ignored = ::write(impl.stopEvent.get(), &wake, sizeof wake);
    impl.thread.join();
  }
  impl.close();
}

std::size_t SimulatorRig::size() const {
  return impl_->devices.size();
}

const std::string& SimulatorRig::devicePath(std::size_t index) const {
  return impl_->devices.at(index)->path;
}

std::map<std::uint32_t, std::uint8_t> SimulatorRig::memory(std::size_t index) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->devices.at(index)->protocol.memory().snapshot();
}

std::vector<std::uint8_t> SimulatorRig::memoryRange(std::size_t index, std::uint32_t address,
                                                    std::uint32_t length) const {
  std::lock_guard lock(impl_->mutex);
  const DeviceMemory& memory = impl_->devices.at(index)->protocol.memory();
  std::vector<std::uint8_t> bytes(length);
  for (std::uint32_t i = 0; i < length; ++i) bytes[i] = memory.load(address + i, kUnwrittenMemory);
  return bytes;
}

std::size_t SimulatorRig::storedBytes(std::size_t index) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->devices.at(index)->protocol.memory().writtenCount();
}

std::optional<std::uint8_t> SimulatorRig::endOfRunByte(std::size_t index) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->devices.at(index)->protocol.endOfRunByte();
}

bool SimulatorRig::hungUp(std::size_t index) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->devices.at(index)->hungUp;
}

ReleaseLateness SimulatorRig::lateness() const {
  std::lock_guard lock(impl_->mutex);
  ReleaseLateness lateness;
  lateness.answers = impl_->released;
  lateness.worst = impl_->worstLateness;
  if (impl_->released > 0) {
    lateness.mean = impl_->totalLateness / static_cast<std::int64_t>(impl_->released);
  }
  return lateness;
}

}  // namespace voltrix::sim

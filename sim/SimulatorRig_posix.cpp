#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <functional>
#include <mutex>
#include <queue>
#include <system_error>
#include <thread>

#include "platform/FileDescriptor_posix.h"
#include "platform/PosixTime_posix.h"
#include "sim/PseudoTerminal.h"
#include "sim/RigLine.h"
#include "sim/SimulatorRig.h"

namespace voltrix::sim {

namespace {

// The timer runs on CLOCK_MONOTONIC, which is what steady_clock reads here.
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kStopKey = ~std::uint64_t{0};
constexpr std::uint64_t kTimerKey = kStopKey - 1;

struct DueTime {
  Clock::time_point at;
  std::size_t device;
  bool operator>(const DueTime& other) const { return at > other.at; }
};

struct RigDevice {
  explicit RigDevice(const SimConfig& config) : line(config), baudRate(config.baudRate) {}

  // The loader inside `line` and `hungUp` change only on the serving thread,
  // under the rig's mutex, which the accessors take; the serving thread
  // reads them without it.
  RigLine line;
  bool hungUp = false;

  // Only the serving thread touches these (the path is set before it starts).
  const std::uint32_t baudRate;
  std::string path;
  PseudoTerminal terminal;
  bool lineUp = true;
  bool writeBlocked = false;
  std::optional<Clock::time_point> scheduled;  // the due time in the heap that counts
  std::uint32_t watched = 0;                   // the epoll events asked for
};

}  // namespace

struct SimulatorRig::Impl {
  void serve();
  void serviceDueDevices();
  void service(std::size_t index);
  void readFromHost(RigDevice& device);
  void releaseDueAnswers(RigDevice& device, Clock::time_point now);
  void hangUp(RigDevice& device);
  void takeLineDown(RigDevice& device);
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
  LatenessTally lateness;
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
  if (device.lineUp && device.line.hangUpDue(now)) hangUp(device);
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
  device.line.takeFromHost(buffer.data(), static_cast<std::size_t>(count), now);
}

void SimulatorRig::Impl::releaseDueAnswers(RigDevice& device, Clock::time_point now) {
  if (device.writeBlocked) return;
  scratch.clear();
  device.line.collectDue(now, scratch);
  if (scratch.empty()) return;
  const ssize_t written = ::write(device.terminal.master.get(), scratch.data(), scratch.size());
  if (written < 0) {
    if (errno == EAGAIN) {
      device.writeBlocked = true;
    } else if (errno != EINTR) {
      takeLineDown(device);
    }
    return;
  }
  std::lock_guard lock(mutex);
  if (!device.line.markSent(static_cast<std::size_t>(written), now, lateness)) {
    device.writeBlocked = true;
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
  device.line.dropAnswers();
  if (device.terminal.master) {
    ::epoll_ctl(epoll.get(), EPOLL_CTL_DEL, device.terminal.master.get(), nullptr);
  }
  device.watched = 0;
}

void SimulatorRig::Impl::schedule(std::size_t index) {
  RigDevice& device = *devices[index];
  std::optional<Clock::time_point> due;
  if (device.lineUp) due = device.line.nextDue(!device.writeBlocked, Clock::now());
  if (due && due != device.scheduled) dueTimes.push({*due, index});
  device.scheduled = due;
}

void SimulatorRig::Impl::watch(std::size_t index) {
  RigDevice& device = *devices[index];
  if (!device.lineUp) return;
  const std::uint32_t wanted =
      (device.line.mayRead(Clock::now()) ? EPOLLIN : 0u) | (device.writeBlocked ? EPOLLOUT : 0u);
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
    if (device->baudRate == 0) {
      errno = EINVAL;
      return false;
    }
    if (!openPseudoTerminal(device->baudRate, device->terminal)) return false;
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
  return impl_->devices.at(index)->line.protocol().memory().snapshot();
}

std::vector<std::uint8_t> SimulatorRig::memoryRange(std::size_t index, std::uint32_t address,
                                                    std::uint32_t length) const {
  std::lock_guard lock(impl_->mutex);
  const DeviceMemory& memory = impl_->devices.at(index)->line.protocol().memory();
  std::vector<std::uint8_t> bytes(length);
  for (std::uint32_t i = 0; i < length; ++i) bytes[i] = memory.load(address + i, kUnwrittenMemory);
  return bytes;
}

std::size_t SimulatorRig::storedBytes(std::size_t index) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->devices.at(index)->line.protocol().memory().writtenCount();
}

std::optional<std::uint8_t> SimulatorRig::endOfRunByte(std::size_t index) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->devices.at(index)->line.protocol().endOfRunByte();
}

bool SimulatorRig::hungUp(std::size_t index) const {
  std::lock_guard lock(impl_->mutex);
  return impl_->devices.at(index)->hungUp;
}

ReleaseLateness SimulatorRig::lateness() const {
  std::lock_guard lock(impl_->mutex);
  const LatenessTally& tally = impl_->lateness;
  ReleaseLateness lateness;
  lateness.answers = tally.answers;
  lateness.worst = tally.worst;
  if (tally.answers > 0) lateness.mean = tally.total / static_cast<std::int64_t>(tally.answers);
  return lateness;
}

}  // namespace voltrix::sim

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "port/SerialPort.h"
#include "tests/port/PtyPair.h"
#include "tests/port/ThreadState_linux.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestUser_posix.h"

namespace voltrix {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::PtyPair;

constexpr std::uint32_t kBaud = 57600;
// Upper bound for "returns early": far below the wait it cuts short, far
// above any scheduling delay of a loaded machine.
constexpr long long kPromptMs = 2500;
// Upper bound for "does not hang" on a wait of a few hundred ms: ten times
// the wait and more, yet far below the wait it would be without its bound.
constexpr long long kNoHangMs = 10000;

// Runs `act` on a helper thread once the calling thread, which is about to
// read or write, sleeps waiting on the line: what `act` does then happens
// while the call waits, never before it began.
class WhileWaiting {
 public:
  explicit WhileWaiting(std::function<void()> act)
      : helper_([this, waiter = test::currentThreadId(), act = std::move(act)] {
          began_ = test::waitUntilBlockedInPoll(waiter);
          act();
        }) {}
  ~WhileWaiting() {
    if (helper_.joinable()) helper_.join();
  }
  WhileWaiting(const WhileWaiting&) = delete;
  WhileWaiting& operator=(const WhileWaiting&) = delete;
  // Joins the helper: true when the call was seen waiting before `act` ran.
  bool sawTheWait() {
    helper_.join();
    return began_;
  }

 private:
  bool began_ = false;
  std::thread helper_;
};

long long millisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Hands out one device node and remembers what it was asked.
class RecordingResolver final : public ComResolver {
 public:
  explicit RecordingResolver(std::string path) : path_(std::move(path)) {}
  ComResolution resolve(std::uint32_t portNumber) const override {
    ++calls;
    lastNumber = portNumber;
    return {path_, ""};
  }
  mutable std::atomic<int> calls{0};
  mutable std::atomic<std::uint32_t> lastNumber{0};

 private:
  std::string path_;
};

class NoDeviceResolver final : public ComResolver {
 public:
  ComResolution resolve(std::uint32_t) const override {
    return {"", "COM9 is not linked in /nowhere (VOLTRIX_DOSDEVICES)"};
  }
};

// Polls until a byte is there (the pseudo-terminal passes bytes on
// asynchronously) or a second has passed.
int pollUntilByte(SerialPort& port, std::uint8_t* buffer) {
  const auto start = Clock::now();
  while (millisecondsSince(start) < 1000) {
    if (port.Read(buffer, 1, 0) == 1) return 1;
    std::this_thread::sleep_for(1ms);
  }
  return 0;
}

// The thread count settles once the kernel has reaped an ended thread.
int settledThreadCount(int expected) {
  const auto start = Clock::now();
  int count = test::threadCount();
  while (count != expected && millisecondsSince(start) < 1000) {
    std::this_thread::sleep_for(1ms);
    count = test::threadCount();
  }
  return count;
}

// Bytes the device side has queued for the port, seen through a second
// descriptor of the same terminal (opened before the port takes it).
class QueueProbe {
 public:
  explicit QueueProbe(const std::string& path)
      : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
  ~QueueProbe() {
    if (fd_ >= 0) ::close(fd_);
  }
  int fd() const { return fd_; }
  bool waitForQueued(int count) const {
    return waitUntil([count](int queued) { return queued >= count; });
  }
  // True once the port has taken everything queued.
  bool waitUntilEmpty() const {
    return waitUntil([](int queued) { return queued == 0; });
  }

 private:
  bool waitUntil(const std::function<bool(int)>& done) const {
    const auto start = Clock::now();
    int queued = 0;
    while (millisecondsSince(start) < 5000) {
      if (::ioctl(fd_, FIONREAD, &queued) == 0 && done(queued)) return true;
      std::this_thread::sleep_for(1ms);
    }
    return false;
  }
  int fd_;
};

// Waits in a child process for the parent's go, then reports whether its own
// open of `path` failed as busy. Forked before the parent starts any thread.
class BusyProbeChild {
 public:
  explicit BusyProbeChild(const std::string& path) {
    if (::pipe(go_) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(go_[1]);
      char signal = 0;
      if (::read(go_[0], &signal, 1) != 1) ::_exit(3);
      SerialPort port(fixedDeviceResolver(path));
      const bool opened = port.Open(1, kBaud);
      ::_exit(opened ? 1 : port.LastOpenFailure().kind == OpenFailure::PortBusy ? 0 : 2);
    }
    ::close(go_[0]);
  }
  // The child's exit code: 0 busy, 1 opened, 2 another failure.
  int tryNow() {
    if (pid_ <= 0) return -1;
    const char signal = 1;
    if (::write(go_[1], &signal, 1) != 1) return -1;
    ::close(go_[1]);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  int go_[2] = {-1, -1};
  pid_t pid_ = -1;
};

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.valid());
    // A sanitizer runtime starts a helper thread with the first thread of
    // the process: let that happen before any test counts threads.
    std::thread([] {}).join();
  }
  std::shared_ptr<const ComResolver> resolver() const {
    return fixedDeviceResolver(pty.devicePath());
  }
  PtyPair pty;
};

// ---------------------------------------------------------------- Open

TEST_F(SerialPortTest, RefusesPortZeroAndAbove1024BeforeAnythingElse) {
  auto recording = std::make_shared<RecordingResolver>(pty.devicePath());
  SerialPort port(recording);
  const int fds = test::openDescriptorCount();
  const int threads = test::threadCount();
  for (std::uint32_t number : {0u, 1025u, 0xFFFFFFFFu}) {
    EXPECT_FALSE(port.Open(number, kBaud)) << number;
    EXPECT_EQ(port.LastOpenFailure().kind, OpenFailure::OutOfRange) << number;
    EXPECT_EQ(port.PortNumber(), 0u);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.MonitorRunning());
  }
  EXPECT_EQ(recording->calls.load(), 0);
  EXPECT_EQ(test::openDescriptorCount(), fds);
  EXPECT_EQ(test::threadCount(), threads);

  // Nor does it touch a port that is open.
  ASSERT_TRUE(port.Open(2, kBaud));
  EXPECT_FALSE(port.Open(0, kBaud));
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(port.PortNumber(), 2u);
}

TEST_F(SerialPortTest, TriesPort1024) {
  auto recording = std::make_shared<RecordingResolver>(pty.devicePath());
  SerialPort port(recording);
  ASSERT_TRUE(port.Open(1024, kBaud)) << describeOpenFailure(port.LastOpenFailure());
  EXPECT_EQ(port.PortNumber(), 1024u);
  EXPECT_EQ(recording->lastNumber.load(), 1024u);
  EXPECT_EQ(port.LastOpenFailure().kind, OpenFailure::None);
}

TEST_F(SerialPortTest, FindsThePortThroughTheDosDevicesDirectory) {
  test::TempDir dir;
  ASSERT_EQ(::symlink(pty.devicePath().c_str(), dir.file("com3").c_str()), 0);
  test::DosDevicesOverride override(dir.path());
  SerialPort port;
  ASSERT_TRUE(port.Open(3, kBaud)) << describeOpenFailure(port.LastOpenFailure());
  EXPECT_EQ(port.DevicePath(), pty.devicePath());
  EXPECT_EQ(port.LastOpenFailure().devicePath, pty.devicePath());
  EXPECT_EQ(port.LastOpenFailure().portNumber, 3u);
  EXPECT_EQ(port.PortNumber(), 3u);

  SerialPort other;
  EXPECT_FALSE(other.Open(4, kBaud));
  EXPECT_EQ(other.LastOpenFailure().kind, OpenFailure::NoSuchPort);
  EXPECT_NE(other.LastOpenFailure().unresolvedReason.find("COM4"), std::string::npos)
      << describeOpenFailure(other.LastOpenFailure());
  EXPECT_TRUE(other.DevicePath().empty());
}

TEST_F(SerialPortTest, AppliesRaw8N1AtTheRequestedSpeed) {
  for (std::uint32_t baud : {57600u, 115200u, 9600u}) {
    // Opened before the port holds the node for exclusive use (which only
    // root could pass later): a second descriptor of the same terminal.
    const int probe = ::open(pty.devicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(probe, 0);
    SerialPort port(resolver());
    ASSERT_TRUE(port.Open(1, baud)) << describeOpenFailure(port.LastOpenFailure());
    termios settings{};
    ASSERT_EQ(::tcgetattr(probe, &settings), 0);
    ::close(probe);
    const speed_t expected = baud == 57600 ? B57600 : baud == 115200 ? B115200 : B9600;
    EXPECT_EQ(::cfgetospeed(&settings), expected);
    EXPECT_EQ(::cfgetispeed(&settings), expected);
    EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_NE(settings.c_cflag & CREAD, 0u);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
    EXPECT_EQ(settings.c_oflag & OPOST, 0u);
    EXPECT_EQ(settings.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
  }
}

TEST_F(SerialPortTest, RefusesAnUnsupportedBaudRateAndLeavesNothingOpen) {
  const int fds = test::openDescriptorCount();
  const int threads = test::threadCount();
  SerialPort port(resolver());
  EXPECT_FALSE(port.Open(1, 12345));
  EXPECT_EQ(port.LastOpenFailure().kind, OpenFailure::ConfigurationFailed);
  EXPECT_EQ(port.LastOpenFailure().settings, SettingsProblem::UnsupportedSpeed);
  EXPECT_EQ(port.LastOpenFailure().baudRate, 12345u);
  EXPECT_EQ(describeOpenFailure(port.LastOpenFailure()),
            "The line settings could not be applied to " + pty.devicePath() +
                " (unsupported baud rate 12345).");
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(port.MonitorRunning());
  EXPECT_EQ(test::openDescriptorCount(), fds);
  EXPECT_EQ(settledThreadCount(threads), threads);
  SerialPort next(resolver());
  EXPECT_TRUE(next.Open(1, kBaud)) << describeOpenFailure(next.LastOpenFailure());
}

TEST_F(SerialPortTest, SecondOpenOfAHeldPortFailsAndLeavesNothingBehind) {
  SerialPort first(resolver());
  ASSERT_TRUE(first.Open(1, kBaud));
  const int fds = test::openDescriptorCount();
  const int threads = test::threadCount();

  SerialPort second(resolver());
  EXPECT_FALSE(second.Open(1, kBaud));
  EXPECT_EQ(second.LastOpenFailure().kind, OpenFailure::PortBusy);
  EXPECT_EQ(second.LastOpenFailure().devicePath, pty.devicePath());
  EXPECT_EQ(describeOpenFailure(second.LastOpenFailure()),
            "The port " + pty.devicePath() + " is held by another program.");
  EXPECT_FALSE(second.IsOpen());
  EXPECT_FALSE(second.MonitorRunning());
  EXPECT_EQ(test::openDescriptorCount(), fds);
  EXPECT_EQ(settledThreadCount(threads), threads);

  first.Close();
  EXPECT_TRUE(second.Open(1, kBaud)) << describeOpenFailure(second.LastOpenFailure());
}

TEST_F(SerialPortTest, HeldPortIsBusyForAnotherProcess) {
  BusyProbeChild child(pty.devicePath());  // forked while no port thread runs
  SerialPort port(resolver());
  ASSERT_TRUE(port.Open(1, kBaud));
  EXPECT_EQ(child.tryNow(), 0);
}

TEST_F(SerialPortTest, ClearsTheExclusiveFlagWhenClosing) {
  const int probe = ::open(pty.devicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(probe, 0);
  SerialPort port(resolver());
  ASSERT_TRUE(port.Open(1, kBaud));
  int exclusive = -1;
  ASSERT_EQ(::ioctl(probe, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1);
  port.Close();
  ASSERT_EQ(::ioctl(probe, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
  ::close(probe);
}

TEST_F(SerialPortTest, MapsMissingNodesAndOtherFilesToTheirFailures) {
  SerialPort port(fixedDeviceResolver("/dev/voltrix-no-such-node"));
  EXPECT_FALSE(port.Open(1, kBaud));
  EXPECT_EQ(port.LastOpenFailure().kind, OpenFailure::NoSuchPort);
  EXPECT_EQ(port.LastOpenFailure().devicePath, "/dev/voltrix-no-such-node");
  EXPECT_EQ(describeOpenFailure(port.LastOpenFailure()),
            "The serial port /dev/voltrix-no-such-node does not exist: check that the device is "
            "connected.");

  SerialPort unmapped(std::make_shared<NoDeviceResolver>());
  EXPECT_FALSE(unmapped.Open(9, kBaud));
  EXPECT_EQ(unmapped.LastOpenFailure().kind, OpenFailure::NoSuchPort);
  EXPECT_EQ(unmapped.LastOpenFailure().unresolvedReason,
            "COM9 is not linked in /nowhere (VOLTRIX_DOSDEVICES)");
  EXPECT_TRUE(unmapped.LastOpenFailure().devicePath.empty());
  EXPECT_EQ(describeOpenFailure(unmapped.LastOpenFailure()),
            "No serial port found: COM9 is not linked in /nowhere (VOLTRIX_DOSDEVICES). Check "
            "that the device is connected.");

  test::TempDir dir;
  test::writeFileBytes(dir.file("plain"), "x");
  for (const std::string& path : {std::string("/dev/null"), dir.file("plain")}) {
    const int fds = test::openDescriptorCount();
    SerialPort port(fixedDeviceResolver(path));
    EXPECT_FALSE(port.Open(1, kBaud));
    EXPECT_EQ(port.LastOpenFailure().kind, OpenFailure::NotASerialPort) << path;
    EXPECT_EQ(describeOpenFailure(port.LastOpenFailure()), path + " is not a serial port.");
    EXPECT_EQ(test::openDescriptorCount(), fds);
  }
}

// The first of the usual serial-port groups this machine knows.
const group* serialGroup() {
  for (const char* name : {"dialout", "uucp", "tty"}) {
    if (const group* found = ::getgrnam(name)) return found;
  }
  return nullptr;
}

TEST_F(SerialPortTest, MapsARefusedOpenToPermissionDenied) {
  if (::geteuid() != 0) {
    ASSERT_EQ(::chmod(pty.devicePath().c_str(), 0), 0);
    SerialPort port(resolver());
    EXPECT_FALSE(port.Open(1, kBaud));
    EXPECT_EQ(port.LastOpenFailure().kind, OpenFailure::PermissionDenied);
    EXPECT_EQ(port.LastOpenFailure().devicePath, pty.devicePath());
    return;
  }
  // Root opens anything: give the node to a serial group and try as an
  // ordinary user.
  const group* owner = serialGroup();
  ASSERT_NE(owner, nullptr) << "no dialout, uucp or tty group here (scripts/test.sh makes dialout)";
  const auto user = test::findTestUser();
  ASSERT_TRUE(user) << test::missingTestUserMessage();
  const std::string groupName = owner->gr_name;
  ASSERT_EQ(::chown(pty.devicePath().c_str(), 0, owner->gr_gid), 0);
  ASSERT_EQ(::chmod(pty.devicePath().c_str(), 0660), 0);

  int report[2];
  ASSERT_EQ(::pipe(report), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(report[0]);
    if (!test::becomeTestUser(*user)) ::_exit(2);
    SerialPort port(resolver());
    const bool opened = port.Open(1, kBaud);
    const PortOpenFailure& failure = port.LastOpenFailure();
    const std::string text = std::to_string(static_cast<int>(failure.kind)) + "\n" +
                             failure.devicePath + "\n" + failure.group + "\n" +
                             describeOpenFailure(failure);
    if (::write(report[1], text.data(), text.size()) < 0) ::_exit(3);
    ::_exit(opened ? 1 : 0);
  }
  ::close(report[1]);
  std::string text;
  char chunk[256];
  for (ssize_t got; (got = ::read(report[0], chunk, sizeof chunk)) > 0;) text.append(chunk, got);
  ::close(report[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_NE(WEXITSTATUS(status), 2) << "cannot become " << test::kTestUserName;
  ASSERT_EQ(WEXITSTATUS(status), 0) << text;

  // Kind, node, group and sentence, one to a line.
  std::vector<std::string> lines;
  std::istringstream reported(text);
  for (std::string line; std::getline(reported, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 4u) << text;
  EXPECT_EQ(std::stoi(lines[0]), static_cast<int>(OpenFailure::PermissionDenied));
  EXPECT_EQ(lines[1], pty.devicePath());
  EXPECT_EQ(lines[2], groupName);
  EXPECT_EQ(lines[3], "Permission denied on " + pty.devicePath() + ": add your user to the '" +
                          groupName + "' group (sudo usermod -aG " + groupName +
                          " $USER) and log in again.");
}

// ---------------------------------------------------------------- Transfer

TEST_F(SerialPortTest, CarriesEveryByteValueBothWays) {
  SerialPort port(resolver());
  ASSERT_TRUE(port.Open(1, kBaud));
  const auto all = test::everyByteValue();

  ASSERT_TRUE(pty.send(all));
  std::vector<std::uint8_t> received(all.size(), 0);
  ASSERT_EQ(port.Read(received.data(), static_cast<std::int32_t>(received.size()), 50), 256);
  EXPECT_EQ(received, all);

  port.Write(all.data(), static_cast<std::uint32_t>(all.size()));
  EXPECT_EQ(pty.receive(all.size(), 2s), all);
}

TEST_F(SerialPortTest, WriteHandsOverMoreThanTheDriverTakesAtOnce) {
  SerialPort port(resolver());
  ASSERT_TRUE(port.Open(1, kBaud));
  std::vector<std::uint8_t> data(200000);
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
  std::vector<std::uint8_t> arrived;
  std::thread reader([&] { arrived = pty.receive(data.size(), 20s); });
  port.Write(data.data(), static_cast<std::uint32_t>(data.size()));
  reader.join();
  EXPECT_EQ(arrived.size(), data.size());
  EXPECT_TRUE(arrived == data);
}

TEST_F(SerialPortTest, WriteToAStalledLineEndsWhenCancelled) {
  SerialPort port(resolver());
  std::atomic<bool> cancel{false};
  port.SetCancelFlag(&cancel);
  ASSERT_TRUE(port.Open(1, kBaud));
  std::vector<std::uint8_t> data(1 << 20, 0x55);  // far more than the driver buffers
  WhileWaiting raiser([&] { cancel = true; });
  const auto start = Clock::now();
  port.Write(data.data(), static_cast<std::uint32_t>(data.size()));
  EXPECT_TRUE(raiser.sawTheWait());
  // Without the flag the write would wait for room for about 17 minutes.
  EXPECT_LT(millisecondsSince(start), kPromptMs);
}

// ---------------------------------------------------------------- Poll mode

TEST_F(SerialPortTest, PollTakesOneQueuedByteOrNothing) {
  SerialPort port(resolver());
  ASSERT_TRUE(port.Open(1, kBaud));
  std::uint8_t buffer[3] = {0xEE, 0xEE, 0xEE};
  EXPECT_EQ(port.Read(buffer, 3, 0), 0);
  EXPECT_EQ(buffer[0], 0xEE);

  // One byte per call, whatever the length says.
  ASSERT_TRUE(pty.send({0x01, 0x02, 0x03}));
  ASSERT_EQ(pollUntilByte(port, buffer), 1);
  EXPECT_EQ(buffer[0], 0x01);
  EXPECT_EQ(buffer[1], 0xEE);
  EXPECT_EQ(port.Read(buffer, 3, 0), 1);
  EXPECT_EQ(buffer[0], 0x02);
  EXPECT_EQ(port.Read(buffer, 3, 0), 1);
  EXPECT_EQ(buffer[0], 0x03);
  EXPECT_EQ(buffer[1], 0xEE);
  EXPECT_EQ(port.Read(buffer, 3, 0), 0);
}

// ---------------------------------------------------------------- Blocking mode

TEST_F(SerialPortTest, BlockingReadReturnsTheByteWhenItArrives) {
  SerialPort port(resolver());
  ASSERT_TRUE(port.Open(1, kBaud));
  // The byte comes only once the read waits for it.
  WhileWaiting device([&] { pty.send({0x42, 0x43}); });
  std::uint8_t buffer[2] = {0, 0};
  EXPECT_EQ(port.Read(buffer, 2, SerialPort::kBlocking), 1);
  EXPECT_TRUE(device.sawTheWait());
  EXPECT_EQ(buffer[0], 0x42);
  EXPECT_EQ(buffer[1], 0);
  EXPECT_EQ(port.ReadByte(buffer[1], 1s), WaitResult::Byte);
  EXPECT_EQ(buffer[1], 0x43);
}

TEST_F(SerialPortTest, ReadByteTimesOutAfterItsBound) {
  SerialPort port(resolver());
  ASSERT_TRUE(port.Open(1, kBaud));
  std::uint8_t byte = 0xAA;
  auto start = Clock::now();
  EXPECT_EQ(port.ReadByte(byte, 100ms), WaitResult::TimedOut);
  const auto waited = millisecondsSince(start);
  EXPECT_GE(waited, 100);
  EXPECT_LT(waited, kPromptMs);
  EXPECT_EQ(port.ReadByte(byte, 0ms), WaitResult::TimedOut);
  EXPECT_EQ(byte, 0xAA);
  EXPECT_FALSE(port.IsGone());
}

TEST_F(SerialPortTest, CancelFlagEndsEveryWait) {
  SerialPort port(resolver());
  std::atomic<bool> cancel{false};
  port.SetCancelFlag(&cancel);
  ASSERT_TRUE(port.Open(1, kBaud));
  WhileWaiting raiser([&] { cancel = true; });
  std::uint8_t byte = 0xAA;
  EXPECT_EQ(port.ReadByte(byte, std::nullopt), WaitResult::Cancelled);
  EXPECT_TRUE(raiser.sawTheWait());
  EXPECT_EQ(byte, 0xAA);

  std::uint8_t buffer[8] = {};
  const auto again = Clock::now();
  EXPECT_EQ(port.Read(buffer, 1, SerialPort::kBlocking), 0);
  EXPECT_EQ(port.Read(buffer, 8, 50), 0);
  EXPECT_EQ(port.ReadCounted(buffer, 8, 5000, std::nullopt), 0);
  EXPECT_LT(millisecondsSince(again), kPromptMs);
  EXPECT_FALSE(port.IsGone());
}

TEST_F(SerialPortTest, HangUpEndsABlockingReadAndSaysSo) {
  SerialPort port(resolver());
  ASSERT_TRUE(port.Open(1, kBaud));
  WhileWaiting device([&] { pty.closeMaster(); });
  std::uint8_t byte = 0xAA;  // an earlier acknowledgement still in the buffer
  EXPECT_EQ(port.ReadByte(byte, std::nullopt), WaitResult::PortGone);
  EXPECT_TRUE(device.sawTheWait());
  EXPECT_TRUE(port.IsGone());
  EXPECT_EQ(byte, 0xAA);

  std::uint8_t buffer[4] = {};
  const auto again = Clock::now();
  EXPECT_EQ(port.Read(buffer, 1, SerialPort::kBlocking), 0);
  EXPECT_EQ(port.Read(buffer, 1, 0), 0);
  EXPECT_EQ(port.ReadCounted(buffer, 4, 5000, std::nullopt), 0);
  EXPECT_LT(millisecondsSince(again), kPromptMs);
  port.Write(buffer, 4);
  port.Close();
  EXPECT_FALSE(port.IsOpen());
}

TEST(SerialPortClosed, EveryOperationReturnsAtOnce) {
  SerialPort port(fixedDeviceResolver("/dev/null"));
  std::uint8_t buffer[4] = {7, 7, 7, 7};
  const auto start = Clock::now();
  EXPECT_EQ(port.Read(buffer, 1, 0), 0);
  EXPECT_EQ(port.Read(buffer, 1, SerialPort::kBlocking), 0);
  EXPECT_EQ(port.Read(buffer, 4, 50), 0);
  EXPECT_EQ(port.ReadByte(buffer[0], std::nullopt), WaitResult::PortGone);
  port.Write(buffer, 4);
  port.PurgeInput();
  port.Close();
  port.Close();
  EXPECT_LT(millisecondsSince(start), kPromptMs);
  EXPECT_EQ(buffer[0], 7);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(port.MonitorRunning());
}

// ---------------------------------------------------------------- Counted mode

TEST_F(SerialPortTest, CountedReadFinishesAtOnceWhenEverythingIsQueued) {
  QueueProbe probe(pty.devicePath());
  ASSERT_GE(probe.fd(), 0);
  SerialPort port(resolver());
  ASSERT_TRUE(port.Open(1, kBaud));
  std::vector<std::uint8_t> data(64);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(0x80 + i);
  ASSERT_TRUE(pty.send(data));
  ASSERT_TRUE(probe.waitForQueued(64));
  std::vector<std::uint8_t> buffer(64, 0);
  const auto start = Clock::now();
  // A pass that waited would take the whole 5 s.
  EXPECT_EQ(port.ReadCounted(buffer.data(), 64, 5000, std::nullopt), 64);
  EXPECT_LT(millisecondsSince(start), kPromptMs);
  EXPECT_EQ(buffer, data);
}

TEST_F(SerialPortTest, CountedReadStoresWhatIsQueuedAndCollectsTheRestLater) {
  QueueProbe probe(pty.devicePath());
  ASSERT_GE(probe.fd(), 0);
  SerialPort port(resolver());
  ASSERT_TRUE(port.Open(1, kBaud));
  std::vector<std::uint8_t> data(64);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 3 + 1);
  const std::vector<std::uint8_t> head(data.begin(), data.begin() + 10);
  const std::vector<std::uint8_t> rest(data.begin() + 10, data.end());
  ASSERT_TRUE(pty.send(head));
  ASSERT_TRUE(probe.waitForQueued(10));
  // The rest comes once a pass has ended short and taken the first ten
  // bytes (the queue is empty again) and the next pass waits.
  const int reader = test::currentThreadId();
  bool firstPassTook = false;
  WhileWaiting device([&] {
    firstPassTook = probe.waitUntilEmpty() && test::waitUntilBlockedInPoll(reader);
    pty.send(rest);
  });
  std::vector<std::uint8_t> buffer(80, 0xEE);
  EXPECT_EQ(port.Read(buffer.data(), 64, 50), 64);
  EXPECT_TRUE(device.sawTheWait());
  EXPECT_TRUE(firstPassTook);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer.begin()));
  EXPECT_TRUE(std::all_of(buffer.begin() + 64, buffer.end(), [](auto b) { return b == 0xEE; }));
}

TEST_F(SerialPortTest, CountedReadGivesUpAfterItsPasses) {
  SerialPort port(resolver());
  ASSERT_TRUE(port.Open(1, kBaud));
  ASSERT_TRUE(pty.send({1, 2, 3, 4, 5}));
  std::vector<std::uint8_t> buffer(10, 0xEE);
  const auto start = Clock::now();
  EXPECT_EQ(port.Read(buffer.data(), 10, 1), 5);
  const auto waited = millisecondsSince(start);
  EXPECT_EQ(buffer, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
  // 1000 passes of at least 1 ms wait each: no early end while nothing is wrong.
  EXPECT_GE(waited, 1000);
}

TEST_F(SerialPortTest, CountedReadReturnsEarlyWhenThePortGoesAway) {
  QueueProbe probe(pty.devicePath());
  ASSERT_GE(probe.fd(), 0);
  SerialPort port(resolver());
  ASSERT_TRUE(port.Open(1, kBaud));
  ASSERT_TRUE(pty.send({9, 8, 7}));
  ASSERT_TRUE(probe.waitForQueued(3));
  // The device goes once the bytes it sent are taken and the read waits on.
  const int reader = test::currentThreadId();
  bool tookWhatCame = false;
  WhileWaiting device([&] {
    tookWhatCame = probe.waitUntilEmpty() && test::waitUntilBlockedInPoll(reader);
    pty.closeMaster();
  });
  std::vector<std::uint8_t> buffer(10, 0);
  const auto start = Clock::now();
  EXPECT_EQ(port.Read(buffer.data(), 10, 50), 3);
  EXPECT_LT(millisecondsSince(start), kPromptMs);  // not the 52 s of all passes
  EXPECT_TRUE(device.sawTheWait());
  EXPECT_TRUE(tookWhatCame);
  EXPECT_TRUE(port.IsGone());
  EXPECT_EQ(buffer[0], 9);
  EXPECT_EQ(buffer[2], 7);
}

TEST_F(SerialPortTest, CountedReadReturnsEarlyWhenCancelled) {
  SerialPort port(resolver());
  std::atomic<bool> cancel{false};
  port.SetCancelFlag(&cancel);
  ASSERT_TRUE(port.Open(1, kBaud));
  WhileWaiting raiser([&] { cancel = true; });
  std::vector<std::uint8_t> buffer(10, 0);
  const auto start = Clock::now();
  EXPECT_EQ(port.Read(buffer.data(), 10, 50), 0);
  EXPECT_LT(millisecondsSince(start), kPromptMs);  // not the 52 s of all passes
  EXPECT_TRUE(raiser.sawTheWait());
}

TEST_F(SerialPortTest, CountedReadStopsAtItsTotalBound) {
  SerialPort port(resolver());
  ASSERT_TRUE(port.Open(1, kBaud));
  ASSERT_TRUE(pty.send({4, 5, 6}));
  std::vector<std::uint8_t> buffer(10, 0xEE);
  // Passes of 50 ms would go on for 52 s; the bound ends them.
  auto start = Clock::now();
  EXPECT_EQ(port.ReadCounted(buffer.data(), 10, 50, 300ms), 3);
  auto waited = millisecondsSince(start);
  EXPECT_GE(waited, 300);  // never early; a loaded machine may be late
  EXPECT_LT(waited, kNoHangMs);
  EXPECT_EQ(buffer[2], 6);
  EXPECT_EQ(buffer[3], 0xEE);
  // The bound also cuts a single long pass short.
  start = Clock::now();
  EXPECT_EQ(port.ReadCounted(buffer.data(), 10, 60000, 100ms), 0);
  waited = millisecondsSince(start);
  EXPECT_GE(waited, 100);
  EXPECT_LT(waited, kPromptMs);
  // A bound that is not reached changes nothing.
  ASSERT_TRUE(pty.send({7, 8}));
  EXPECT_EQ(port.ReadCounted(buffer.data(), 2, 50, 10s), 2);
  EXPECT_EQ(buffer[0], 7);
  EXPECT_EQ(buffer[1], 8);
}

// ---------------------------------------------------------------- Lifecycle

TEST_F(SerialPortTest, CloseAndDestructionReleaseDescriptorLockAndThread) {
  const int fds = test::openDescriptorCount();
  const int threads = test::threadCount();
  SerialPort port(resolver());
  ASSERT_TRUE(port.Open(1, kBaud));
  EXPECT_TRUE(port.MonitorRunning());
  EXPECT_EQ(test::threadCount(), threads + 1);
  EXPECT_GT(test::openDescriptorCount(), fds);

  port.Close();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(port.MonitorRunning());
  EXPECT_EQ(test::openDescriptorCount(), fds);
  EXPECT_EQ(settledThreadCount(threads), threads);

  SerialPort next(resolver());
  EXPECT_TRUE(next.Open(1, kBaud)) << describeOpenFailure(next.LastOpenFailure());
  next.Close();
  port.Close();
  EXPECT_EQ(test::openDescriptorCount(), fds);

  // Destruction without Close does the same.
  {
    SerialPort dropped(resolver());
    ASSERT_TRUE(dropped.Open(1, kBaud));
    EXPECT_EQ(test::threadCount(), threads + 1);
  }
  EXPECT_EQ(test::openDescriptorCount(), fds);
  EXPECT_EQ(settledThreadCount(threads), threads);
  EXPECT_TRUE(next.Open(1, kBaud)) << describeOpenFailure(next.LastOpenFailure());
}

TEST_F(SerialPortTest, OpeningAnOpenPortOpensItAnew) {
  const int threads = test::threadCount();
  SerialPort port(resolver());
  ASSERT_TRUE(port.Open(1, kBaud));
  const int fds = test::openDescriptorCount();
  ASSERT_TRUE(port.Open(2, kBaud)) << describeOpenFailure(port.LastOpenFailure());
  EXPECT_EQ(port.PortNumber(), 2u);
  EXPECT_EQ(test::openDescriptorCount(), fds);
  EXPECT_EQ(settledThreadCount(threads + 1), threads + 1);
}

TEST_F(SerialPortTest, WaitingCostsAlmostNoCpu) {
  SerialPort port(resolver());
  ASSERT_TRUE(port.Open(1, kBaud));
  const auto cpuMs = [] {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
  };
  const double cpuBefore = cpuMs();
  const auto start = Clock::now();
  std::uint8_t byte = 0;
  EXPECT_EQ(port.ReadByte(byte, 300ms), WaitResult::TimedOut);
  std::vector<std::uint8_t> buffer(4);
  EXPECT_EQ(port.ReadCounted(buffer.data(), 4, 1, 300ms), 0);
  const double wallMs = static_cast<double>(millisecondsSince(start));
  // A polling loop would burn a whole core; waiting in poll() costs next to nothing.
  EXPECT_LT(cpuMs() - cpuBefore, wallMs / 4);
}

// A line at 57600 baud brings a 64-byte block one byte every 174 us. The
// read sleeps until the first byte, then for the rest of the block: a few
// wake-ups, not one per byte.
TEST_F(SerialPortTest, APacedBlockCostsAFewWakeUpsNotOnePerByte) {
  SerialPort port(resolver());
  ASSERT_TRUE(port.Open(1, kBaud));
  std::vector<std::uint8_t> data(64);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(0x40 + i);
  const long switchesBefore = test::voluntarySwitchesOfThisThread();
  WhileWaiting line([&] {
    auto due = Clock::now();
    for (std::uint8_t byte : data) {
      due += std::chrono::nanoseconds(10'000'000'000LL / kBaud);
      std::this_thread::sleep_until(due);
      pty.send({byte});
    }
  });
  std::vector<std::uint8_t> buffer(64, 0);
  EXPECT_EQ(port.Read(buffer.data(), 64, 50), 64);
  const long wakeUps = test::voluntarySwitchesOfThisThread() - switchesBefore;
  EXPECT_TRUE(line.sawTheWait());
  EXPECT_EQ(buffer, data);
  // The first byte, the rest, and room for a byte or two that came late.
  EXPECT_LE(wakeUps, 8);
}

// ---------------------------------------------------------------- Monitor

class RecordingSink final : public SerialNotifySink {
 public:
  void notify(std::uint32_t message, std::uint32_t portNumber,
              std::uint32_t lParam) noexcept override {
    std::lock_guard<std::mutex> lock(mutex_);
    seen_.push_back({message, portNumber, lParam});
  }
  bool saw(std::uint32_t message, std::uint32_t portNumber) {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::any_of(seen_.begin(), seen_.end(), [&](const auto& entry) {
      return entry[0] == message && entry[1] == portNumber;
    });
  }

 private:
  std::mutex mutex_;
  std::vector<std::array<std::uint32_t, 3>> seen_;
};

TEST_F(SerialPortTest, MonitorTellsTheSinkAboutReceivedBytes) {
  RecordingSink sink;
  SerialPort port(resolver());
  port.SetNotifySink(&sink);
  ASSERT_TRUE(port.Open(7, kBaud));
  // The monitor compares each look with the one before: keep bytes coming
  // until it has seen some arrive.
  const auto start = Clock::now();
  while (!sink.saw(UWM_COMM_RXCHAR, 7) && millisecondsSince(start) < 5000) {
    ASSERT_TRUE(pty.send({0x11}));
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_TRUE(sink.saw(UWM_COMM_RXCHAR, 7));
  port.Close();
  port.SetNotifySink(nullptr);
}

TEST_F(SerialPortTest, TheMonitorSleepsWhileNobodyListensAndWakesForASink) {
  const std::vector<int> threadsBefore = test::threadIds();
  SerialPort port(resolver());
  ASSERT_TRUE(port.Open(1, kBaud));
  int monitor = -1;
  for (int id : test::threadIds()) {
    if (std::find(threadsBefore.begin(), threadsBefore.end(), id) == threadsBefore.end()) {
      monitor = id;
    }
  }
  ASSERT_NE(monitor, -1);
  // A pseudo-terminal keeps no error counts: nothing to look at.
  EXPECT_TRUE(test::waitUntilBlockedWithoutTimeLimit(monitor));
  RecordingSink sink;
  port.SetNotifySink(&sink);
  // Now it looks at the line again, in periods.
  EXPECT_TRUE(test::waitUntilBlockedInPoll(monitor));
  const auto deadline = Clock::now() + 10s;
  bool periodic = false;
  while (!periodic && Clock::now() < deadline) {
    periodic = test::waitUntilBlockedInPoll(monitor) &&
               !test::waitUntilBlockedWithoutTimeLimit(monitor, 0ms);
  }
  EXPECT_TRUE(periodic);
  port.SetNotifySink(nullptr);
  port.Close();
}

}  // namespace
}  // namespace voltrix

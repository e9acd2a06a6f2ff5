// The port class on a Win32 communications port, as Wine serves one: COM7 is
// zetak-sim's pseudo-terminal. run-cli-e2e.sh starts the simulator in the
// state each group needs and runs the group with --gtest_filter:
//   NoDevice.*    no simulator at all;
//   LiveDevice.*  a simulator that answers every 'S' with ACK, so that n
//                 bytes 'S' bring n bytes ACK;
//   HungUpDevice.* a simulator that hangs up at the first 'S'.
// Wine lets a second handle open a held port, so exclusive open has no case
// here: it waits for a real Windows.

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "link/ProtocolConstants.h"
#include "port/SerialPort.h"

namespace voltrix {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kCom = 7;
constexpr std::uint32_t kBaud = 57600;
// Upper bound for "returns early": far below the wait it cuts short, far
// above any scheduling delay of a loaded machine.
constexpr long long kPromptMs = 2500;
// Upper bound for "does not hang" on a wait of a few hundred ms: ten times
// the wait and more, yet far below the wait it would be without its bound.
constexpr long long kNoHangMs = 10000;

long long millisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Sends `count` sync requests; the live simulator answers each with ACK.
void requestAcks(SerialPort& port, std::uint32_t count) {
  const std::vector<std::uint8_t> syncs(count, CMD_SYNC);
  port.Write(syncs.data(), count);
}

TEST(NoDevice, RefusesPortZeroAndAbove1024BeforeAnythingElse) {
  SerialPort port;
  for (const std::uint32_t number : {0u, 1025u}) {
    EXPECT_FALSE(port.Open(number, kBaud));
    EXPECT_EQ(port.LastOpenFailure().kind, OpenFailure::OutOfRange);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.MonitorRunning());
    EXPECT_EQ(port.PortNumber(), 0u);
  }
}

TEST(NoDevice, MissingPortsAndOtherFilesFailWithTheirReasons) {
  SerialPort missing;
  EXPECT_FALSE(missing.Open(1024, kBaud));
  EXPECT_EQ(missing.DevicePath(), "\\\\.\\COM1024");
  EXPECT_EQ(missing.LastOpenFailure().kind, OpenFailure::NoSuchPort);
  EXPECT_EQ(describeOpenFailure(missing.LastOpenFailure()),
            "The serial port \\\\.\\COM1024 does not exist: check that the device is connected.");

  // A file opens, but it has no line: refused before a monitor could start.
  const char* windows = std::getenv("WINDIR");
  ASSERT_NE(windows, nullptr);
  SerialPort file(fixedDeviceResolver(std::string(windows) + "\\win.ini"));
  EXPECT_FALSE(file.Open(3, kBaud));
  EXPECT_EQ(file.LastOpenFailure().kind, OpenFailure::NotASerialPort);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(file.MonitorRunning());
}

TEST(NoDevice, EveryOperationOfAClosedPortReturnsAtOnce) {
  SerialPort port;
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
}

TEST(LiveDevice, OpensAt57600AndExchangesBytes) {
  SerialPort port;
  ASSERT_TRUE(port.Open(kCom, kBaud)) << describeOpenFailure(port.LastOpenFailure());
  EXPECT_EQ(port.DevicePath(), "\\\\.\\COM7");
  EXPECT_EQ(port.LastOpenFailure().kind, OpenFailure::None);
  EXPECT_TRUE(port.MonitorRunning());
  requestAcks(port, 1);
  std::uint8_t reply = 0;
  EXPECT_EQ(port.ReadByte(reply, 5s), WaitResult::Byte);
  EXPECT_EQ(reply, ACK);
  port.Close();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(port.MonitorRunning());
}

TEST(LiveDevice, PollTakesOneQueuedByteOrNothing) {
  SerialPort port;
  ASSERT_TRUE(port.Open(kCom, kBaud));
  std::uint8_t buffer[4] = {0, 0, 0, 0};
  EXPECT_EQ(port.Read(buffer, 4, 0), 0);
  requestAcks(port, 2);
  int polled = 0;
  const auto start = Clock::now();
  while (polled < 2 && millisecondsSince(start) < kPromptMs) {
    if (port.Read(buffer + polled, 4, 0) == 1) ++polled;
  }
  EXPECT_EQ(polled, 2);
  EXPECT_EQ(buffer[0], ACK);
  EXPECT_EQ(buffer[1], ACK);
  EXPECT_EQ(buffer[2], 0);
  EXPECT_EQ(port.Read(buffer, 4, 0), 0);
}

TEST(LiveDevice, CountedReadTakesAWholeBlockAtOnce) {
  SerialPort port;
  ASSERT_TRUE(port.Open(kCom, kBaud));
  requestAcks(port, 64);
  std::uint8_t block[64] = {};
  const auto start = Clock::now();
  EXPECT_EQ(port.Read(block, 64, READ_BLOCK_TIMEOUT_MS), 64);
  EXPECT_LT(millisecondsSince(start), kPromptMs);
  for (const std::uint8_t byte : block) ASSERT_EQ(byte, ACK);
}

TEST(LiveDevice, CountedReadStoresWhatCameAndLeavesTheRestOfTheBuffer) {
  SerialPort port;
  ASSERT_TRUE(port.Open(kCom, kBaud));
  requestAcks(port, 3);
  std::uint8_t buffer[8] = {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11};
  const auto start = Clock::now();
  EXPECT_EQ(port.ReadCounted(buffer, 8, READ_BLOCK_TIMEOUT_MS, 400ms), 3);
  EXPECT_GE(millisecondsSince(start), 400);
  EXPECT_EQ(buffer[2], ACK);
  EXPECT_EQ(buffer[3], 0x11);
  EXPECT_EQ(buffer[7], 0x11);
  EXPECT_FALSE(port.IsGone());
}

TEST(LiveDevice, ReadByteTimesOutAfterItsBound) {
  SerialPort port;
  ASSERT_TRUE(port.Open(kCom, kBaud));
  std::uint8_t byte = ACK;  // an earlier acknowledgement still in the buffer
  const auto start = Clock::now();
  EXPECT_EQ(port.ReadByte(byte, 300ms), WaitResult::TimedOut);
  const auto waited = millisecondsSince(start);
  EXPECT_GE(waited, 300);  // never early; a loaded machine may be late
  EXPECT_LT(waited, kNoHangMs);
  EXPECT_EQ(byte, ACK);
  EXPECT_FALSE(port.IsGone());
}

TEST(LiveDevice, TheCancelFlagEndsEveryWait) {
  SerialPort port;
  std::atomic<bool> cancel{false};
  port.SetCancelFlag(&cancel);
  ASSERT_TRUE(port.Open(kCom, kBaud));
  // Wine shows no thread as waiting (every thread's state reads 0), so the
  // flag goes up as soon as the read has been entered: it lands in the
  // read's set-up or its wait. A flag looked at only before waiting would
  // leave the read to its bound, a minute on.
  std::atomic<bool> reading{false};
  std::thread raiser([&] {
    while (!reading.load()) std::this_thread::yield();
    cancel = true;
  });
  std::uint8_t byte = ACK;
  const auto start = Clock::now();
  reading = true;
  EXPECT_EQ(port.ReadByte(byte, 60s), WaitResult::Cancelled);
  EXPECT_LT(millisecondsSince(start), kPromptMs);
  raiser.join();

  // Without the flag these would wait for ever and for 52 s.
  std::uint8_t block[64] = {};
  const auto again = Clock::now();
  EXPECT_EQ(port.Read(block, 1, SerialPort::kBlocking), 0);
  EXPECT_EQ(port.Read(block, 64, READ_BLOCK_TIMEOUT_MS), 0);
  EXPECT_LT(millisecondsSince(again), kPromptMs);
  EXPECT_FALSE(port.IsGone());

  // Once the flag is down again the port answers as before.
  cancel = false;
  requestAcks(port, 1);
  EXPECT_EQ(port.ReadByte(byte, 5s), WaitResult::Byte);
}

TEST(LiveDevice, ClosingReleasesThePortEveryTime) {
  for (int round = 0; round < 20; ++round) {
    SerialPort port;
    ASSERT_TRUE(port.Open(kCom, kBaud)) << "round " << round;
    if (round % 2 == 0) port.Close();  // odd rounds: the destructor closes it
  }
  SerialPort port;
  ASSERT_TRUE(port.Open(kCom, kBaud));
  ASSERT_TRUE(port.Open(kCom, kBaud));  // an open port is opened anew
  requestAcks(port, 1);
  std::uint8_t reply = 0;
  EXPECT_EQ(port.ReadByte(reply, 5s), WaitResult::Byte);
}

TEST(HungUpDevice, AHangUpEndsEveryReadAndSaysSo) {
  SerialPort port;
  ASSERT_TRUE(port.Open(kCom, kBaud));
  requestAcks(port, 1);
  std::uint8_t byte = ACK;
  const auto start = Clock::now();
  EXPECT_EQ(port.ReadByte(byte, std::nullopt), WaitResult::PortGone);
  EXPECT_LT(millisecondsSince(start), kPromptMs);
  EXPECT_TRUE(port.IsGone());

  std::uint8_t buffer[4] = {};
  const auto again = Clock::now();
  EXPECT_EQ(port.Read(buffer, 1, 0), 0);
  EXPECT_EQ(port.Read(buffer, 4, READ_BLOCK_TIMEOUT_MS), 0);
  EXPECT_LT(millisecondsSince(again), kPromptMs);
  port.Write(buffer, 4);
  port.Close();
  EXPECT_FALSE(port.IsOpen());
}

}  // namespace
}  // namespace voltrix

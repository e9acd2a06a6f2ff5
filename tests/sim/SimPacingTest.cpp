// Pacing and reply latency. Only lower bounds are checked: a loaded machine
// may always be slower, never faster than the line.

#include <gtest/gtest.h>

#include "tests/sim/RawHost.h"

namespace voltrix::sim::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

SimConfig pacedAt(std::uint32_t baudRate) {
  SimConfig config;
  config.baudRate = baudRate;
  config.paced = true;
  return config;
}

TEST(SimPacing, BytesFromTheHostArriveAtTheLineRate) {
  // At 9600 baud a byte takes 1.04 ms: 100 stray bytes and the sync take
  // about 105 ms to cross before the sync can be answered.
  ZetakSimulator simulator(pacedAt(9600));
  ASSERT_TRUE(simulator.start());
  RawHost host(simulator.devicePath());
  Bytes bytes(100, 0x00);
  bytes.push_back(CMD_SYNC);
  const Clock::time_point sent = Clock::now();
  EXPECT_EQ(host.ask(bytes), kAck);
  EXPECT_GE(Clock::now() - sent, 90ms);
}

TEST(SimPacing, BytesToTheHostLeaveAtTheLineRate) {
  ZetakSimulator simulator(pacedAt(9600));
  ASSERT_TRUE(simulator.start());
  RawHost host(simulator.devicePath());
  EXPECT_EQ(host.ask({CMD_READ}), kReadCommandReply);
  EXPECT_EQ(host.ask(readHeaderFirst(0x1000, 64)), kAck);
  host.send({DATA_REQUEST});
  const Bytes first = host.receive(1);
  const Clock::time_point firstArrived = Clock::now();
  const Bytes rest = host.receive(63);
  // 63 more bytes at 1.04 ms each.
  EXPECT_GE(Clock::now() - firstArrived, 55ms);
  EXPECT_EQ(first, Bytes{kUnwrittenMemory});
  EXPECT_EQ(rest, Bytes(63, kUnwrittenMemory));
}

TEST(SimPacing, EveryReplyWaitsForTheConfiguredLatency) {
  SimConfig config;
  config.replyLatency = 150ms;
  ZetakSimulator simulator(config);
  ASSERT_TRUE(simulator.start());
  RawHost host(simulator.devicePath());
  for (const std::uint8_t command : {CMD_SYNC, CMD_WRITE}) {
    const Clock::time_point asked = Clock::now();
    EXPECT_TRUE(host.ask({command}).has_value());
    EXPECT_GE(Clock::now() - asked, 140ms);
  }
}

TEST(SimPacing, PacedExchangeStillStoresAndReturnsTheBlock) {
  ZetakSimulator simulator(pacedAt(57600));
  ASSERT_TRUE(simulator.start());
  RawHost host(simulator.devicePath());
  Bytes block(64);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 7);
  EXPECT_EQ(host.ask({CMD_SYNC}), kAck);
  EXPECT_EQ(host.ask({CMD_WRITE}), kWriteCommandReply);
  EXPECT_EQ(host.ask(writeHeaderFirst(0x3000, block)), kAck);
  EXPECT_EQ(host.ask(block), kAck);
  EXPECT_EQ(host.ask({CMD_READ}), kReadCommandReply);
  EXPECT_EQ(host.ask(readHeaderFirst(0x3000, 64)), kAck);
  host.send({DATA_REQUEST});
  EXPECT_EQ(host.receive(64), transformed(block));
}

}  // namespace
}  // namespace voltrix::sim::test

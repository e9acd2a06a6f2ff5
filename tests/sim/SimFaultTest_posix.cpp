// Every planned fault, seen from the host's side of the line.

#include <fcntl.h>
#include <gtest/gtest.h>

#include <thread>

#include "tests/sim/RawHost.h"

namespace voltrix::sim::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kAddress = 0x020000;

SimConfig withFault(FaultKind kind, SimStep step, int occurrence = 1,
                    std::chrono::milliseconds lateBy = 0ms) {
  SimConfig config;
  config.fault = FaultPlan{kind, step, occurrence, lateBy};
  return config;
}

Bytes sampleBlock(std::size_t length) {
  Bytes block(length);
  for (std::size_t i = 0; i < length; ++i) block[i] = static_cast<std::uint8_t>(0x30 + i);
  return block;
}

// Writes one block at kAddress and asks for it back up to the data request.
void writeBlockAndRequestIt(RawHost& host, const Bytes& block) {
  EXPECT_EQ(host.ask({CMD_SYNC}), kAck);
  EXPECT_EQ(host.ask({CMD_WRITE}), kWriteCommandReply);
  EXPECT_EQ(host.ask(writeHeaderFirst(kAddress, block)), kAck);
  EXPECT_EQ(host.ask(block), kAck);
  EXPECT_EQ(host.ask({CMD_READ}), kReadCommandReply);
  EXPECT_EQ(host.ask(readHeaderFirst(kAddress, static_cast<std::uint16_t>(block.size()))), kAck);
  host.send({DATA_REQUEST});
}

TEST(SimFault, RefusalHitsOnlyTheChosenOccurrence) {
  ZetakSimulator simulator(withFault(FaultKind::Refuse, SimStep::WriteData, 2));
  ASSERT_TRUE(simulator.start());
  RawHost host(simulator.devicePath());
  const Bytes first = sampleBlock(64);
  const Bytes second = sampleBlock(10);
  EXPECT_EQ(host.ask({CMD_SYNC}), kAck);
  EXPECT_EQ(host.ask({CMD_WRITE}), kWriteCommandReply);
  EXPECT_EQ(host.ask(writeHeaderFirst(kAddress, first)), kAck);
  EXPECT_EQ(host.ask(first), kAck);
  EXPECT_EQ(host.ask({CMD_WRITE}), kWriteCommandReply);
  EXPECT_EQ(host.ask(writeHeaderLast(second)), kAck);
  EXPECT_EQ(host.ask(second), kRefuse);
  EXPECT_EQ(host.ask(ABORT_PACKET), kAbortReply);
  EXPECT_EQ(simulator.memory().size(), 64u);
  EXPECT_EQ(simulator.memoryRange(kAddress, 64), transformed(first));
}

TEST(SimFault, RefusedHeadersAndSyncsAnswerWithRefusals) {
  ZetakSimulator headerRefused(withFault(FaultKind::Refuse, SimStep::ReadHeader));
  ASSERT_TRUE(headerRefused.start());
  RawHost host(headerRefused.devicePath());
  EXPECT_EQ(host.ask({CMD_READ}), kReadCommandReply);
  EXPECT_EQ(host.ask(readHeaderFirst(kAddress, 8)), kRefuse);
  EXPECT_EQ(host.ask(ABORT_PACKET), kAbortReply);
  EXPECT_EQ(host.ask({CMD_READ}), kReadCommandReply);
  EXPECT_EQ(host.ask(readHeaderFirst(kAddress, 8)), kAck);

  ZetakSimulator busy(withFault(FaultKind::Refuse, SimStep::Sync));
  ASSERT_TRUE(busy.start());
  RawHost line(busy.devicePath());
  EXPECT_EQ(line.ask({CMD_SYNC}), kSyncBusy);
  EXPECT_EQ(line.ask({CMD_SYNC}), kAck);
}

TEST(SimFault, SilenceLeavesEveryLaterStepUnanswered) {
  ZetakSimulator simulator(withFault(FaultKind::Silence, SimStep::WriteHeader));
  ASSERT_TRUE(simulator.start());
  RawHost host(simulator.devicePath());
  const Bytes block = sampleBlock(4);
  EXPECT_EQ(host.ask({CMD_SYNC}), kAck);
  EXPECT_EQ(host.ask({CMD_WRITE}), kWriteCommandReply);
  const Bytes header = writeHeaderFirst(kAddress, block);
  EXPECT_EQ(host.ask(header, kQuietSpell), std::nullopt);
  EXPECT_EQ(host.ask({CMD_SYNC}, kQuietSpell), std::nullopt);
  // The device still hears everything; it just says nothing.
  EXPECT_TRUE(waitUntil([&] { return simulator.bytesFromHost().size() == 2 + header.size() + 1; }));
  EXPECT_EQ(simulator.bytesToHost(), (Bytes{kAck, kWriteCommandReply}));
  EXPECT_FALSE(simulator.hungUp());
}

TEST(SimFault, HangUpIsSeenByTheHostAndTheDeviceIsGone) {
  ZetakSimulator simulator(withFault(FaultKind::HangUp, SimStep::ReadCommand));
  ASSERT_TRUE(simulator.start());
  RawHost host(simulator.devicePath());
  EXPECT_EQ(host.ask({CMD_SYNC}), kAck);
  host.send({CMD_READ});
  EXPECT_TRUE(host.seesHangUp());
  EXPECT_TRUE(waitUntil([&] { return simulator.hungUp(); }));
  EXPECT_EQ(simulator.bytesToHost(), Bytes{kAck});
  host.close();
  // Like an unplugged adapter: the port cannot be opened again.
  const FileDescriptor again(::open(simulator.devicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  EXPECT_FALSE(again.valid());
}

TEST(SimFault, ShortBlockSendsHalfTheRequestedBytes) {
  ZetakSimulator simulator(withFault(FaultKind::ShortBlock, SimStep::DataRequest));
  ASSERT_TRUE(simulator.start());
  RawHost host(simulator.devicePath());
  const Bytes block = sampleBlock(40);
  writeBlockAndRequestIt(host, block);
  EXPECT_EQ(host.receive(20), slice(transformed(block), 0, 20));
  EXPECT_EQ(host.receive(1, kQuietSpell), Bytes{});
  // The device goes on as if the whole block had gone out.
  EXPECT_EQ(host.ask({kAck}), kReadAckReply);
}

TEST(SimFault, WrongByteSpoilsOneByteOfTheBlockButNotTheMemory) {
  ZetakSimulator simulator(withFault(FaultKind::WrongByte, SimStep::DataRequest));
  ASSERT_TRUE(simulator.start());
  RawHost host(simulator.devicePath());
  const Bytes block = sampleBlock(40);
  writeBlockAndRequestIt(host, block);
  const Bytes returned = host.receive(40);
  ASSERT_EQ(returned.size(), 40u);
  const Bytes stored = transformed(block);
  int differences = 0;
  for (std::size_t i = 0; i < returned.size(); ++i) differences += returned[i] != stored[i];
  EXPECT_EQ(differences, 1);
  EXPECT_EQ(simulator.memoryRange(kAddress, 40), stored);
  EXPECT_EQ(host.ask({kAck}), kReadAckReply);
}

TEST(SimFault, LateReplyComesLaterThanTheOthers) {
  constexpr auto kLate = 300ms;
  ZetakSimulator simulator(withFault(FaultKind::LateReply, SimStep::Sync, 2, kLate));
  ASSERT_TRUE(simulator.start());
  RawHost host(simulator.devicePath());
  EXPECT_EQ(host.ask({CMD_SYNC}), kAck);

  const Clock::time_point asked = Clock::now();
  host.send({CMD_SYNC});
  // Not there within the first part of the delay, there after it.
  EXPECT_EQ(host.receiveByte(kLate / 2), std::nullopt);
  EXPECT_EQ(host.receiveByte(), kAck);
  EXPECT_GE(Clock::now() - asked, kLate - 10ms);
  EXPECT_EQ(simulator.bytesToHost(), (Bytes{kAck, kAck}));
}

TEST(SimFault, StopEndsTheThreadWhileAReplyIsStillDue) {
  ZetakSimulator simulator(withFault(FaultKind::LateReply, SimStep::Sync, 1, 3600s));
  ASSERT_TRUE(simulator.start());
  RawHost host(simulator.devicePath());
  host.send({CMD_SYNC});
  EXPECT_TRUE(waitUntil([&] { return simulator.syncRequests() == 1; }));
  simulator.stop();  // would hang the test for an hour if it waited for the reply
  EXPECT_TRUE(simulator.bytesToHost().empty());
  EXPECT_TRUE(host.seesHangUp());
}

}  // namespace
}  // namespace voltrix::sim::test

// What the device refuses, and how it finds its step again afterwards.

#include <gtest/gtest.h>

#include "tests/sim/RawHost.h"

namespace voltrix::sim::test {
namespace {

constexpr std::uint32_t kAddress = 0x004000;

class SimRefusal : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(simulator.start());
    host.emplace(simulator.devicePath());
    ASSERT_TRUE(host->isOpen());
  }
  // The one-byte answers the device gave to one header after a sync and 'W'.
  void syncAndAnnounceWrite() {
    EXPECT_EQ(host->ask({CMD_SYNC}), kAck);
    EXPECT_EQ(host->ask({CMD_WRITE}), kWriteCommandReply);
  }

  ZetakSimulator simulator;
  std::optional<RawHost> host;
};

TEST_F(SimRefusal, DataWhoseChecksumDiffersIsRefusedAndNotStored) {
  const Bytes block = {0x80, 0xFF, 0x00, 0x7F};
  syncAndAnnounceWrite();
  Bytes header = writeHeaderFirst(kAddress, block);
  header.back() ^= 0x01;
  EXPECT_EQ(host->ask(header), kAck);
  EXPECT_EQ(host->ask(block), kRefuse);
  EXPECT_EQ(host->ask(ABORT_PACKET), kAbortReply);
  EXPECT_TRUE(simulator.memory().empty());

  // The same block with its right checksum is taken afterwards.
  EXPECT_EQ(host->ask({CMD_WRITE}), kWriteCommandReply);
  EXPECT_EQ(host->ask(writeHeaderFirst(kAddress, block)), kAck);
  EXPECT_EQ(host->ask(block), kAck);
  EXPECT_EQ(simulator.memoryRange(kAddress, 4), transformed(block));
}

TEST_F(SimRefusal, ChecksumSumsBytesAsUnsignedValues) {
  // 64 bytes of 0x80 sum to 0x002000; summed as signed values they would not.
  const Bytes block(64, 0x80);
  syncAndAnnounceWrite();
  const Bytes header = writeHeaderFirst(kAddress, block);
  EXPECT_EQ(slice(header, 7, 3), (Bytes{0x00, 0x20, 0x00}));
  EXPECT_EQ(host->ask(header), kAck);
  EXPECT_EQ(host->ask(block), kAck);
}

TEST_F(SimRefusal, WriteHeaderBeforeAnySyncIsRefused) {
  const Bytes block = {1, 2, 3};
  EXPECT_EQ(host->ask({CMD_WRITE}), kWriteCommandReply);
  EXPECT_EQ(host->ask(writeHeaderFirst(kAddress, block)), kRefuse);
  EXPECT_EQ(host->ask(ABORT_PACKET), kAbortReply);
  EXPECT_TRUE(simulator.memory().empty());
}

TEST_F(SimRefusal, HeadersWithImpossibleCountsOrNoStartAddressAreRefused) {
  syncAndAnnounceWrite();
  // Full form right after the sync: nothing to continue from.
  EXPECT_EQ(host->ask(writeHeaderFull(Bytes(64, 1))), kRefuse);
  EXPECT_EQ(host->ask(ABORT_PACKET), kAbortReply);
  // More than a block's 64 bytes.
  EXPECT_EQ(host->ask({CMD_WRITE}), kWriteCommandReply);
  EXPECT_EQ(host->ask(writeHeaderFirst(kAddress, Bytes(65, 1))), kRefuse);
  EXPECT_EQ(host->ask(ABORT_PACKET), kAbortReply);
  // An empty block.
  EXPECT_EQ(host->ask({CMD_WRITE}), kWriteCommandReply);
  EXPECT_EQ(host->ask(writeHeaderFirst(kAddress, Bytes{})), kRefuse);
  EXPECT_EQ(host->ask(ABORT_PACKET), kAbortReply);
  // A read that does not say where it starts.
  EXPECT_EQ(host->ask({CMD_READ}), kReadCommandReply);
  EXPECT_EQ(host->ask(readHeaderFull()), kRefuse);
  EXPECT_EQ(host->ask(ABORT_PACKET), kAbortReply);
  EXPECT_EQ(host->ask({CMD_READ}), kReadCommandReply);
  EXPECT_EQ(host->ask(readHeaderFirst(kAddress, 65)), kRefuse);
  EXPECT_EQ(host->ask(ABORT_PACKET), kAbortReply);
}

TEST_F(SimRefusal, FirstSyncsAreRefusedAsConfigured) {
  SimConfig config;
  config.refuseSyncs = 2;
  ZetakSimulator reluctant(config);
  ASSERT_TRUE(reluctant.start());
  RawHost line(reluctant.devicePath());
  EXPECT_EQ(line.ask({CMD_SYNC}), kRefuse);
  EXPECT_EQ(line.ask({CMD_SYNC}), kRefuse);
  EXPECT_EQ(line.ask({CMD_SYNC}), kAck);
  EXPECT_EQ(reluctant.syncRequests(), 3);

  // A refused sync is no acceptance: writes only work after the third.
  const Bytes block = {9};
  EXPECT_EQ(line.ask({CMD_WRITE}), kWriteCommandReply);
  EXPECT_EQ(line.ask(writeHeaderFirst(kAddress, block)), kAck);
}

TEST_F(SimRefusal, RefusedSyncsDoNotAcceptADownload) {
  SimConfig config;
  config.refuseSyncs = 1;
  ZetakSimulator reluctant(config);
  ASSERT_TRUE(reluctant.start());
  RawHost line(reluctant.devicePath());
  EXPECT_EQ(line.ask({CMD_SYNC}), kRefuse);
  EXPECT_EQ(line.ask({CMD_WRITE}), kWriteCommandReply);
  EXPECT_EQ(line.ask(writeHeaderFirst(kAddress, {1})), kRefuse);
}

TEST_F(SimRefusal, AHeaderOfUnknownFormIsReadToItsLengthThenRefused) {
  syncAndAnnounceWrite();
  // 0x09 is no header length, yet it says how many bytes belong to the
  // header: the command bytes among them are no commands.
  const Bytes header = {0x09, CMD_SYNC, CMD_WRITE, CMD_READ, CMD_END_OK, CMD_END_FAIL, 0x03, 0x45};
  host->send(header);
  EXPECT_EQ(host->receive(1, kQuietSpell), Bytes{});
  EXPECT_EQ(host->ask({0x00}), kRefuse);
  EXPECT_EQ(host->ask(ABORT_PACKET), kAbortReply);
  EXPECT_EQ(host->ask({CMD_SYNC}), kAck);
  EXPECT_FALSE(simulator.endOfRunByte().has_value());
  EXPECT_EQ(simulator.syncRequests(), 2);
}

TEST_F(SimRefusal, ASyncWhereAHeaderBelongsIsTakenAsItsLength) {
  syncAndAnnounceWrite();
  // A host that gave up after 'W' and starts again: 0x53 bytes of header.
  host->send({CMD_SYNC});
  host->send(Bytes(0x53 - 2, CMD_SYNC));
  EXPECT_EQ(host->receive(1, kQuietSpell), Bytes{});
  EXPECT_EQ(host->ask({CMD_SYNC}), kRefuse);
  EXPECT_EQ(simulator.syncRequests(), 1);
  EXPECT_EQ(host->ask({CMD_SYNC}), kAck);
}

TEST_F(SimRefusal, AReadBackWaitsForItsRequestAndItsAcknowledgement) {
  EXPECT_EQ(host->ask({CMD_READ}), kReadCommandReply);
  EXPECT_EQ(host->ask(readHeaderFirst(kAddress, 2)), kAck);
  // Neither a new request nor an abort gets past the pending data request.
  host->send({CMD_SYNC});
  host->send(ABORT_PACKET);
  EXPECT_EQ(host->receive(1, kQuietSpell), Bytes{});
  host->send({DATA_REQUEST});
  EXPECT_EQ(host->receive(2), (Bytes{kUnwrittenMemory, kUnwrittenMemory}));
  host->send({CMD_SYNC});
  EXPECT_EQ(host->receive(1, kQuietSpell), Bytes{});
  EXPECT_EQ(host->ask({kAck}), kReadAckReply);
  EXPECT_EQ(host->ask({CMD_SYNC}), kAck);
  EXPECT_EQ(simulator.syncRequests(), 1);
}

TEST_F(SimRefusal, StrayBytesBetweenStepsGetNoAnswer) {
  host->send({0x00, kAck, DATA_REQUEST, 0x11, 0x03, 0x99});
  EXPECT_TRUE(waitUntil([&] { return simulator.bytesFromHost().size() == 6; }));
  EXPECT_EQ(host->receive(1, kQuietSpell), Bytes{});
  EXPECT_EQ(host->ask({CMD_SYNC}), kAck);
  EXPECT_EQ(simulator.bytesToHost(), Bytes{kAck});
}

}  // namespace
}  // namespace voltrix::sim::test

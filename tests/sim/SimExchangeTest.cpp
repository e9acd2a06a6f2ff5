// Whole exchanges as a correct host makes them: the device's memory must end
// up holding the image's bytes and every byte on the line must be as planned.

#include <gtest/gtest.h>

#include "engine/ImageFileOps.h"
#include "sim/ImageBuilder.h"
#include "tests/sim/RawHost.h"

namespace voltrix::sim::test {
namespace {

constexpr std::uint32_t kAddress = 0x012345;

// A one-record image whose write file holds 00 01 .. 63: the bytes the host
// sends, so the headers can be checked against hand-computed values.
Bytes imageSegmentOf(std::size_t length) {
  Bytes sent(length);
  for (std::size_t i = 0; i < length; ++i) sent[i] = static_cast<std::uint8_t>(i);
  ImageRecord record;
  record.loadAddress = static_cast<std::int32_t>(kAddress);
  record.data = transformed(sent);
  const BuiltImage image = buildImage({record});
  return slice(image.bytes, RECORD_HEADER_SIZE, length);
}

TEST(SimExchange, HundredByteSegmentIsStoredReadBackAndTranscribedExactly) {
  const Bytes segment = imageSegmentOf(100);
  const Bytes sent = transformed(segment);
  const Bytes header0 = {0x0A, 0x08, 0x01, 0x23, 0x45, 0x00, 0x40, 0x00, 0x07, 0xE0};
  const Bytes header1 = {0x07, 0x05, 0x00, 0x24, 0x00, 0x0B, 0x76};
  const Bytes readHeader0 = {0x07, 0x05, 0x01, 0x23, 0x45, 0x00, 0x40};
  const Bytes readHeader1 = {0x04, 0x02, 0x00, 0x24};

  ZetakSimulator simulator;
  ASSERT_TRUE(simulator.start());

  // Every phase opens the port afresh, as the host does.
  RawHost writer(simulator.devicePath());
  EXPECT_EQ(writer.ask({CMD_SYNC}), kAck);
  EXPECT_EQ(writer.ask({CMD_WRITE}), kWriteCommandReply);
  EXPECT_EQ(writer.ask(header0), kAck);
  EXPECT_EQ(writer.ask(slice(sent, 0, 64)), kAck);
  EXPECT_EQ(writer.ask({CMD_WRITE}), kWriteCommandReply);
  EXPECT_EQ(writer.ask(header1), kAck);
  EXPECT_EQ(writer.ask(slice(sent, 64, 36)), kAck);
  writer.close();

  RawHost reader(simulator.devicePath());
  EXPECT_EQ(reader.ask({CMD_READ}), kReadCommandReply);
  EXPECT_EQ(reader.ask(readHeader0), kAck);
  reader.send({DATA_REQUEST});
  EXPECT_EQ(reader.receive(64), slice(segment, 0, 64));
  EXPECT_EQ(reader.ask({kAck}), kReadAckReply);
  EXPECT_EQ(reader.ask({CMD_READ}), kReadCommandReply);
  EXPECT_EQ(reader.ask(readHeader1), kAck);
  reader.send({DATA_REQUEST});
  EXPECT_EQ(reader.receive(36), slice(segment, 64, 36));
  EXPECT_EQ(reader.ask({kAck}), kReadAckReply);
  reader.close();

  RawHost closer(simulator.devicePath());
  EXPECT_EQ(closer.ask({CMD_END_OK}), kEndOfRunReply);

  EXPECT_EQ(simulator.memoryRange(kAddress, 100), segment);
  EXPECT_EQ(simulator.memory().size(), 100u);
  EXPECT_EQ(simulator.memoryRange(kAddress - 1, 1), Bytes{kUnwrittenMemory});
  EXPECT_EQ(simulator.memoryRange(kAddress + 100, 1), Bytes{kUnwrittenMemory});
  EXPECT_EQ(simulator.endOfRunByte(), CMD_END_OK);
  EXPECT_EQ(simulator.syncRequests(), 1);
  EXPECT_FALSE(simulator.hungUp());

  ExpectedTranscript expected;
  expected.host({CMD_SYNC}).device({kAck});
  expected.host({CMD_WRITE}).device({kWriteCommandReply});
  expected.host(header0).device({kAck});
  expected.host(slice(sent, 0, 64)).device({kAck});
  expected.host({CMD_WRITE}).device({kWriteCommandReply});
  expected.host(header1).device({kAck});
  expected.host(slice(sent, 64, 36)).device({kAck});
  expected.host({CMD_READ}).device({kReadCommandReply});
  expected.host(readHeader0).device({kAck});
  expected.host({DATA_REQUEST}).device(slice(segment, 0, 64));
  expected.host({kAck}).device({kReadAckReply});
  expected.host({CMD_READ}).device({kReadCommandReply});
  expected.host(readHeader1).device({kAck});
  expected.host({DATA_REQUEST}).device(slice(segment, 64, 36));
  expected.host({kAck}).device({kReadAckReply});
  expected.host({CMD_END_OK}).device({kEndOfRunReply});
  EXPECT_EQ(describe(simulator.transcript()), describe(expected.entries()));
  EXPECT_EQ(simulator.transcript(), expected.entries());

  const auto& entries = expected.entries();
  Bytes fromHost, toHost;
  for (const TranscriptEntry& entry : entries)
    (entry.fromHost ? fromHost : toHost).push_back(entry.byte);
  EXPECT_EQ(simulator.bytesFromHost(), fromHost);
  EXPECT_EQ(simulator.bytesToHost(), toHost);

  simulator.clearTranscript();
  EXPECT_TRUE(simulator.transcript().empty());
}

TEST(SimExchange, FullFormBlocksContinueAtTheNextAddressBothWays) {
  const Bytes segment = imageSegmentOf(130);
  const Bytes sent = transformed(segment);
  ZetakSimulator simulator;
  ASSERT_TRUE(simulator.start());
  RawHost host(simulator.devicePath());

  EXPECT_EQ(host.ask({CMD_SYNC}), kAck);
  const Bytes blocks[] = {slice(sent, 0, 64), slice(sent, 64, 64), slice(sent, 128, 2)};
  const Bytes headers[] = {writeHeaderFirst(kAddress, blocks[0]), writeHeaderFull(blocks[1]),
                           writeHeaderLast(blocks[2])};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(host.ask({CMD_WRITE}), kWriteCommandReply);
    EXPECT_EQ(host.ask(headers[i]), kAck);
    EXPECT_EQ(host.ask(blocks[i]), kAck);
  }
  EXPECT_EQ(simulator.memoryRange(kAddress, 130), segment);

  // Read back from one byte before the segment: the unwritten byte comes too.
  const Bytes readHeaders[] = {readHeaderFirst(kAddress - 1, 64), readHeaderFull(),
                               readHeaderLast(3)};
  Bytes returned;
  for (const Bytes& header : readHeaders) {
    EXPECT_EQ(host.ask({CMD_READ}), kReadCommandReply);
    EXPECT_EQ(host.ask(header), kAck);
    host.send({DATA_REQUEST});
    const Bytes block = host.receive(header == readHeaders[2] ? 3 : 64);
    returned.insert(returned.end(), block.begin(), block.end());
    EXPECT_EQ(host.ask({kAck}), kReadAckReply);
  }
  Bytes expected = {kUnwrittenMemory};
  expected.insert(expected.end(), segment.begin(), segment.end());
  EXPECT_EQ(returned, expected);
}

TEST(SimExchange, StateSurvivesTheHostClosingThePortBetweenBlocks) {
  const Bytes segment = imageSegmentOf(128);
  const Bytes sent = transformed(segment);
  ZetakSimulator simulator;
  ASSERT_TRUE(simulator.start());
  {
    RawHost host(simulator.devicePath());
    EXPECT_EQ(host.ask({CMD_SYNC}), kAck);
    EXPECT_EQ(host.ask({CMD_WRITE}), kWriteCommandReply);
    const Bytes block = slice(sent, 0, 64);
    EXPECT_EQ(host.ask(writeHeaderFirst(kAddress, block)), kAck);
    EXPECT_EQ(host.ask(block), kAck);
  }
  {
    // No new sync: the accepted download and its address are still there.
    RawHost host(simulator.devicePath());
    ASSERT_TRUE(host.isOpen());
    EXPECT_EQ(host.ask({CMD_WRITE}), kWriteCommandReply);
    const Bytes block = slice(sent, 64, 64);
    EXPECT_EQ(host.ask(writeHeaderFull(block)), kAck);
    EXPECT_EQ(host.ask(block), kAck);
  }
  EXPECT_EQ(simulator.memoryRange(kAddress, 128), segment);
}

TEST(SimExchange, EndOfRunIsRecordedAndANewRunNeedsANewSync) {
  ZetakSimulator simulator;
  ASSERT_TRUE(simulator.start());
  RawHost host(simulator.devicePath());
  EXPECT_EQ(host.ask({CMD_SYNC}), kAck);
  EXPECT_EQ(host.ask({CMD_END_FAIL}), kEndOfRunReply);
  EXPECT_EQ(simulator.endOfRunByte(), CMD_END_FAIL);

  const Bytes block = {1, 2, 3};
  EXPECT_EQ(host.ask({CMD_WRITE}), kWriteCommandReply);
  EXPECT_EQ(host.ask(writeHeaderFirst(kAddress, block)), kRefuse);
  EXPECT_EQ(host.ask(ABORT_PACKET), kAbortReply);

  EXPECT_EQ(host.ask({CMD_SYNC}), kAck);
  EXPECT_EQ(host.ask({CMD_WRITE}), kWriteCommandReply);
  EXPECT_EQ(host.ask(writeHeaderFirst(kAddress, block)), kAck);
  EXPECT_EQ(host.ask(block), kAck);
  EXPECT_EQ(simulator.memoryRange(kAddress, 3), transformed(block));
}

TEST(SimExchange, OnlyTheLowTwentyFourAddressBitsCountAndTheyWrap) {
  ZetakSimulator simulator;
  ASSERT_TRUE(simulator.start());
  RawHost host(simulator.devicePath());
  const Bytes block = {0x10, 0x20, 0x30, 0x40};
  EXPECT_EQ(host.ask({CMD_SYNC}), kAck);
  EXPECT_EQ(host.ask({CMD_WRITE}), kWriteCommandReply);
  EXPECT_EQ(host.ask(writeHeaderFirst(0xFFFFFE, block)), kAck);
  EXPECT_EQ(host.ask(block), kAck);
  const std::map<std::uint32_t, std::uint8_t> expected = {
      {0x000000, transformByte(0x30)},
      {0x000001, transformByte(0x40)},
      {0xFFFFFE, transformByte(0x10)},
      {0xFFFFFF, transformByte(0x20)},
  };
  EXPECT_EQ(simulator.memory(), expected);
}

}  // namespace
}  // namespace voltrix::sim::test

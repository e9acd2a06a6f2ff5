#include "engine/RunFailure.h"
#include "link/HeaderPackets.h"
#include "tests/link/LinkFixture.h"

namespace voltrix::test {
namespace {

constexpr std::uint32_t A = 0x00012345 | 0x01000000;  // low three bytes 01 23 45

class WriteProtocol : public LinkFixture {
 protected:
  // One segment at A whose write file holds 0, 1, 2, ...
  // The image can only hold 24-bit addresses; the top byte is set afterwards.
  int writeOne(std::uint32_t length, std::uint32_t address = A) {
    loadImage({{0,
                static_cast<std::int32_t>(address & 0xFFFFFF),
                imageBytesSendingCount(length),
                {},
                {}}});
    selectSegment(0);
    state.currentAddress = address;
    return link->writeSegment(state, queue, inRun("F_1_W_sysbin.bin"));
  }
  Bytes counting(std::uint32_t from, std::uint32_t to) {
    Bytes out;
    for (std::uint32_t i = from; i < to; ++i) out.push_back(static_cast<std::uint8_t>(i));
    return out;
  }
  std::vector<WorkerMessage> opening() {
    return {waitMessage(texts::kRequestDownloading), connected()};
  }
  std::vector<WorkerMessage> opening(std::initializer_list<WorkerMessage> rest) {
    auto all = opening();
    all.insert(all.end(), rest);
    return all;
  }
};

TEST(WriteHeaders, ChecksumsSumUnsignedBytesAndKeep24AddressBits) {
  const Bytes ff(64, 0xFF), eighty(64, 0x80);
  auto full = makeWriteHeader(1, 0, ff.data(), 64);
  EXPECT_EQ(Bytes(full.bytes.begin(), full.bytes.begin() + full.size),
            bytesOf({0x05, 0x03, 0x00, 0x3F, 0xC0}));
  auto signedTrap = makeWriteHeader(1, 0, eighty.data(), 64);
  EXPECT_EQ(Bytes(signedTrap.bytes.begin(), signedTrap.bytes.begin() + signedTrap.size),
            bytesOf({0x05, 0x03, 0x00, 0x20, 0x00}));
  auto first = makeWriteHeader(0, 0x12345678, ff.data(), 1);
  EXPECT_EQ(Bytes(first.bytes.begin(), first.bytes.begin() + first.size),
            bytesOf({0x0A, 0x08, 0x34, 0x56, 0x78, 0x00, 0x01, 0x00, 0x00, 0xFF}));
}

TEST_F(WriteProtocol, EmptySegmentSendsNothingAfterTheHandshake) {
  startDevice();
  EXPECT_EQ(writeOne(0), 0);
  EXPECT_EQ(hostBytes(), bytesOf({0x53}));
  EXPECT_EQ(messages(), opening({addressMessage(UWM_WRITE_DONE, A, 0)}));
}

TEST_F(WriteProtocol, FortyBytesGoOutAsOneFirstFormBlock) {
  startDevice();
  EXPECT_EQ(writeOne(40), 0);
  EXPECT_EQ(
      hostBytes(),
      concat({bytesOf({0x53, 0x57, 0x0A, 0x08, 0x01, 0x23, 0x45, 0x00, 0x28, 0x00, 0x03, 0x0C}),
              counting(0, 40)}));
  EXPECT_EQ(messages(), opening({addressMessage(UWM_SEGMENT_OK, A, 40)}));
  EXPECT_EQ(test::readFileBytes(inRun("F_1_W_sysbin.bin")).size(), 40u);
  EXPECT_EQ(device->memoryRange(0x012345, 40), imageBytesSendingCount(40));
}

TEST_F(WriteProtocol, SixtyFourBytesEndOnABlockBoundary) {
  startDevice();
  EXPECT_EQ(writeOne(64), 0);
  const Bytes sent = hostBytes();
  ASSERT_GE(sent.size(), 12u);
  EXPECT_EQ(Bytes(sent.begin() + 2, sent.begin() + 9),
            bytesOf({0x0A, 0x08, 0x01, 0x23, 0x45, 0x00, 0x40}));
  EXPECT_EQ(messages(), opening({addressMessage(UWM_WRITE_PROGRESS, A, 64),
                                 addressMessage(UWM_WRITE_DONE, A + 64, 64)}));
}

TEST_F(WriteProtocol, AHundredBytesEndWithALastFormBlock) {
  startDevice();
  EXPECT_EQ(writeOne(100), 0);
  EXPECT_EQ(
      hostBytes(),
      concat({bytesOf({0x53, 0x57, 0x0A, 0x08, 0x01, 0x23, 0x45, 0x00, 0x40, 0x00, 0x07, 0xE0}),
              counting(0, 64), bytesOf({0x57, 0x07, 0x05, 0x00, 0x24, 0x00, 0x0B, 0x76}),
              counting(64, 100)}));
  EXPECT_EQ(messages(), opening({addressMessage(UWM_WRITE_PROGRESS, A, 100),
                                 addressMessage(UWM_SEGMENT_OK, A + 64, 100)}));
}

TEST_F(WriteProtocol, LaterFullBlocksUseTheShortForm) {
  startDevice();
  EXPECT_EQ(writeOne(128), 0);
  std::uint32_t sum = 0;
  for (std::uint32_t i = 64; i < 128; ++i) sum += i;
  const Bytes sent = hostBytes();
  const std::size_t second = 2 + 10 + 64;  // 'S', 'W', first header, first block
  ASSERT_GE(sent.size(), second + 6);
  EXPECT_EQ(
      Bytes(sent.begin() + second, sent.begin() + second + 6),
      bytesOf({0x57, 0x05, 0x03, 0x00, static_cast<int>(sum >> 8), static_cast<int>(sum & 0xFF)}));
  EXPECT_EQ(messages(), opening({addressMessage(UWM_WRITE_PROGRESS, A, 128),
                                 addressMessage(UWM_WRITE_DONE, A + 128, 128)}));
}

TEST_F(WriteProtocol, ProgressFollowsEveryEighthBlock) {
  startDevice();
  EXPECT_EQ(writeOne(1024), 0);
  EXPECT_EQ(messages(), opening({addressMessage(UWM_WRITE_PROGRESS, A, 1024),
                                 addressMessage(UWM_WRITE_PROGRESS, A + 512, 1024),
                                 addressMessage(UWM_WRITE_DONE, A + 1024, 1024)}));
  EXPECT_EQ(device->memoryRange(0x012345, 1024), imageBytesSendingCount(1024));
}

TEST_F(WriteProtocol, OneByteBeyondABoundaryIsALastBlockOfOne) {
  startDevice();
  EXPECT_EQ(writeOne(1025), 0);
  const Bytes sent = hostBytes();
  const Bytes tail(sent.end() - 9, sent.end());
  EXPECT_EQ(tail, bytesOf({0x57, 0x07, 0x05, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}));
  auto posted = messages();
  ASSERT_FALSE(posted.empty());
  EXPECT_EQ(posted.back(), addressMessage(UWM_SEGMENT_OK, A + 1024, 1025));
}

TEST_F(WriteProtocol, OnlyTheLow24AddressBitsGoOnTheLine) {
  startDevice();
  EXPECT_EQ(writeOne(1, 0x12345678), 0);
  const Bytes sent = hostBytes();
  ASSERT_GE(sent.size(), 7u);
  EXPECT_EQ(Bytes(sent.begin() + 4, sent.begin() + 7), bytesOf({0x34, 0x56, 0x78}));
}

TEST_F(WriteProtocol, ARefusedHeaderAbortsTheTransfer) {
  startDevice(faultAt(sim::FaultKind::Refuse, sim::SimStep::WriteHeader, 2));
  EXPECT_EQ(writeOne(200), 1);
  const Bytes sent = hostBytes();
  EXPECT_EQ(Bytes(sent.end() - 3, sent.end()), bytesOf({0x03, 0x45, 0x00}));
  auto posted = messages();
  ASSERT_FALSE(posted.empty());
  EXPECT_EQ(posted.back(), failureMessage(RunFailure::DownloadRefused));
  EXPECT_TRUE(test::fileExists(inRun("F_1_W_sysbin.bin")));
}

TEST_F(WriteProtocol, ARefusedBlockAbortsTheTransfer) {
  startDevice(faultAt(sim::FaultKind::Refuse, sim::SimStep::WriteData, 1));
  EXPECT_EQ(writeOne(40), 1);
  const Bytes sent = hostBytes();
  EXPECT_EQ(Bytes(sent.end() - 3, sent.end()), bytesOf({0x03, 0x45, 0x00}));
  EXPECT_EQ(messages(), opening({failureMessage(RunFailure::VerifyRefused)}));
}

TEST_F(WriteProtocol, RefusedRequestsAreAskedAgain) {
  startDevice(refusingSyncs(2));
  EXPECT_EQ(writeOne(1), 0);
  const auto wait = waitMessage(texts::kRequestDownloading);
  EXPECT_EQ(messages(), (std::vector<WorkerMessage>{wait, wait, wait, connected(),
                                                    addressMessage(UWM_SEGMENT_OK, A, 1)}));
  EXPECT_EQ(device->syncRequests(), 3);
}

TEST_F(WriteProtocol, AnImageTooShortForItsSegmentSendsNothing) {
  startDevice();
  ImageRecord lying{0, 0x100, {1, 2, 3}, 1000, {}};
  loadImage({lying});
  selectSegment(0);
  EXPECT_EQ(link->writeSegment(state, queue, inRun("F_1_W_sysbin.bin")), 1);
  EXPECT_EQ(messages(), std::vector<WorkerMessage>{failureMessage(RunFailure::ImageTooShort)});
  EXPECT_TRUE(hostBytes().empty());
}

TEST_F(WriteProtocol, APortThatWillNotOpenIsReportedOnce) {
  startDevice();
  link = std::make_unique<SerialLinkPhases>(fixedDeviceResolver(dir.file("no-such-device")),
                                            testTimings());
  EXPECT_EQ(writeOne(40), 1);
  EXPECT_EQ(messages(), std::vector<WorkerMessage>{failureMessage(RunFailure::PortOpen)});
  EXPECT_EQ(link->openFailures().failure(), OpenFailure::NoSuchPort);
}

}  // namespace
}  // namespace voltrix::test

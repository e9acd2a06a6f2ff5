#include "engine/RunFailure.h"
#include "tests/link/LinkFixture.h"

namespace voltrix::test {
namespace {

class ReadBackProtocol : public LinkFixture {
 protected:
  // Writes one segment into the device, then reads it back; returns the
  // read-back result with only the read-back's bytes and messages kept.
  int writeThenReadBack(std::uint32_t length, std::uint32_t address) {
    loadImage({{0,
                static_cast<std::int32_t>(address & 0xFFFFFF),
                imageBytesSendingCount(length),
                {},
                {}}});
    selectSegment(0);
    state.currentAddress = address;
    if (link->writeSegment(state, queue, inRun("F_1_W_sysbin.bin")) != 0) return -1;
    device->clearTranscript();
    queue.drain();
    return link->readBackSegment(state, queue, inRun("F_1_W_sysbin.bin"),
                                 inRun("F_1_R_sysbin.bin"));
  }
  std::vector<WorkerMessage> withWait(std::initializer_list<WorkerMessage> rest) {
    std::vector<WorkerMessage> all{waitMessage(texts::kRequestVerifying)};
    all.insert(all.end(), rest);
    return all;
  }
};

TEST_F(ReadBackProtocol, EmptySegmentSendsNothing) {
  startDevice();
  EXPECT_EQ(writeThenReadBack(0, 0x123456), 0);
  EXPECT_TRUE(hostBytes().empty());
  EXPECT_EQ(messages(), withWait({addressMessage(UWM_VERIFY_DONE, 0x123456, 0)}));
  EXPECT_TRUE(test::fileExists(inRun("F_1_R_sysbin.bin")));
  EXPECT_TRUE(test::readFileBytes(inRun("F_1_R_sysbin.bin")).empty());
}

TEST_F(ReadBackProtocol, FortyBytesAreOneFirstFormRequest) {
  startDevice();
  EXPECT_EQ(writeThenReadBack(40, 0x99123456), 0);
  EXPECT_EQ(hostBytes(), bytesOf({0x52, 0x07, 0x05, 0x12, 0x34, 0x56, 0x00, 0x28, 0xBB, 0xAA}));
  EXPECT_EQ(messages(), withWait({addressMessage(UWM_VERIFY_DONE, 0x99123456, 40)}));
  // The device returns the image's own bytes.
  const Bytes expected = imageBytesSendingCount(40);
  EXPECT_EQ(test::readFileBytes(inRun("F_1_R_sysbin.bin")),
            std::string(expected.begin(), expected.end()));
}

TEST_F(ReadBackProtocol, SixtyFourBytesReportProgressThenTheEnd) {
  startDevice();
  EXPECT_EQ(writeThenReadBack(64, 0x1000), 0);
  EXPECT_EQ(messages(), withWait({addressMessage(UWM_VERIFY_PROGRESS, 0x1000, 64),
                                  addressMessage(UWM_VERIFY_DONE, 0x1040, 64)}));
}

TEST_F(ReadBackProtocol, LaterBlocksUseTheFullAndLastForms) {
  startDevice();
  EXPECT_EQ(writeThenReadBack(130, 0x1000), 0);
  EXPECT_EQ(hostBytes(),
            concat({bytesOf({0x52, 0x07, 0x05, 0x00, 0x10, 0x00, 0x00, 0x40, 0xBB, 0xAA}),
                    bytesOf({0x52, 0x02, 0x00, 0xBB, 0xAA}),
                    bytesOf({0x52, 0x04, 0x02, 0x00, 0x02, 0xBB, 0xAA})}));
  EXPECT_EQ(messages(), withWait({addressMessage(UWM_VERIFY_PROGRESS, 0x1000, 130),
                                  addressMessage(UWM_VERIFY_DONE, 0x1080, 130)}));
}

TEST_F(ReadBackProtocol, ProgressFollowsBlocksZeroAndEightOfSixteen) {
  startDevice();
  EXPECT_EQ(writeThenReadBack(1024, 0x2000), 0);
  EXPECT_EQ(messages(), withWait({addressMessage(UWM_VERIFY_PROGRESS, 0x2000, 1024),
                                  addressMessage(UWM_VERIFY_PROGRESS, 0x2200, 1024),
                                  addressMessage(UWM_VERIFY_DONE, 0x2400, 1024)}));
}

TEST_F(ReadBackProtocol, ARefusedRequestAbortsWithTheAbortPacket) {
  startDevice(faultAt(sim::FaultKind::Refuse, sim::SimStep::ReadHeader, 2));
  EXPECT_EQ(writeThenReadBack(100, 0x2000), 1);
  const Bytes sent = hostBytes();
  EXPECT_EQ(Bytes(sent.end() - 3, sent.end()), bytesOf({0x03, 0x45, 0x00}));
  EXPECT_EQ(messages(), withWait({addressMessage(UWM_VERIFY_PROGRESS, 0x2000, 100),
                                  failureMessage(RunFailure::VerifyRefused)}));
  EXPECT_EQ(test::readFileBytes(inRun("F_1_R_sysbin.bin")).size(), 64u);
}

TEST_F(ReadBackProtocol, AShortBlockLeavesOnlyTheBytesThatCame) {
  startDevice(faultAt(sim::FaultKind::ShortBlock, sim::SimStep::DataRequest, 1));
  EXPECT_EQ(writeThenReadBack(40, 0x2000), 0);
  EXPECT_EQ(test::readFileBytes(inRun("F_1_R_sysbin.bin")).size(), 20u);
  ImageFileOps ops;
  EXPECT_EQ(ops.compareSegmentFiles(inRun("F_1_W_sysbin.bin"), inRun("F_1_R_sysbin.bin")),
            COMPARE_DIFFERENT);
}

}  // namespace
}  // namespace voltrix::test

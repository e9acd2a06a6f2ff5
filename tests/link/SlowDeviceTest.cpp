// Devices that take their time to answer, all within the reply bound.

#include "engine/RunFailure.h"
#include "tests/link/LinkFixture.h"

namespace voltrix::test {
namespace {

using namespace std::chrono_literals;

class SlowDevice : public LinkFixture {
 protected:
  void expectVerified() {
    const auto posted = messages();
    EXPECT_EQ(countOf(posted, UWM_ERROR), 0) << ::testing::PrintToString(posted);
    expectDeviceHoldsImage(records);
    EXPECT_EQ(device->endOfRunByte(), std::optional<std::uint8_t>(0x5A));
  }
  std::vector<ImageRecord> records;
};

TEST_F(SlowDevice, ALateAnswerToTheFirstRequestIsNotTakenForLaterReplies) {
  // A loader that erases its flash before it answers: the host asks again
  // meanwhile, and every request is answered in the end.
  sim::SimConfig config = faultAt(sim::FaultKind::LateReply, sim::SimStep::Sync, 1);
  config.fault.lateBy = 250ms;
  startDevice(config);
  records = {{0, 0x100, Bytes(130, 0x42), {}, {}}, {0, 0x400, Bytes(7, 0x17), {}, {}}};
  loadImage(records);
  EXPECT_EQ(runWorker(), 0u);
  expectVerified();
  EXPECT_GT(device->syncRequests(), 2);  // one request for the second segment
}

TEST_F(SlowDevice, EveryReplyLateStillVerifies) {
  // Later than the handshake listens, so several requests are on their way
  // at once; the read-back's data too come only after the first passes.
  startDevice(answeringLate(300ms));
  records = {{0, 0x100, Bytes(40, 0x42), {}, {}}};
  loadImage(records);
  EXPECT_EQ(runWorker(), 0u);
  expectVerified();
  EXPECT_GT(device->syncRequests(), 1);
}

// A loader that serves one request at a time: while it prepares an answer the
// host's repeated 'S' queue up, and each is answered in turn, the latency
// apart. However many are queued, the host must count them all off before
// it takes a reply for 'W'.
class DeviceAnsweringInTurn : public SlowDevice,
                              public ::testing::WithParamInterface<std::chrono::milliseconds> {};

TEST_P(DeviceAnsweringInTurn, IsFlashedWhenEveryReplyComesWithinTheBound) {
  sim::SimConfig config = answeringLate(GetParam());
  config.answerInTurn = true;
  timings.replyBound = GetParam() + 1s;
  startDevice(config);
  records = {{0, 0x100, Bytes(40, 0x42), {}, {}}};
  loadImage(records);
  EXPECT_EQ(runWorker(), 0u);
  expectVerified();
}

INSTANTIATE_TEST_SUITE_P(Latencies, DeviceAnsweringInTurn,
                         ::testing::Values(0ms, 200ms, 250ms, 400ms, 1000ms), [](const auto& info) {
                           return std::to_string(info.param.count()) + "ms";
                         });

}  // namespace
}  // namespace voltrix::test

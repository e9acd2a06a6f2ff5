// A cancel in the middle of a run: the device must be left ready for the
// next run, and the run must end at once when the device is silent.

#include <functional>
#include <thread>

#include "engine/RunFailure.h"
#include "tests/link/LinkFixture.h"

namespace voltrix::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

bool waitUntil(const std::function<bool()>& condition, Clock::duration within = 20s) {
  const auto deadline = Clock::now() + within;
  while (!condition()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// One segment of three blocks: 64 (first form), 64 (full form), 2 (last form).
const std::vector<ImageRecord> kRecords{{0, 0x2000, Bytes(130, 0x3C), {}, {}}};

struct CancelPoint {
  const char* name;
  sim::SimStep step;
  int occurrence;         // which arrival of the step
  std::size_t hostBytes;  // what the device has received once the step is in
};

void PrintTo(const CancelPoint& point, std::ostream* out) {
  *out << point.name;
}

class CancelledRun : public LinkFixture {
 protected:
  // Runs the worker and raises the cancel once the device has `hostBytes`.
  std::uint32_t runCancelledAt(std::size_t hostBytes) {
    std::uint32_t result = 99;
    std::thread worker([&] { result = runWorker(); });
    const bool reached = waitUntil([&] { return this->hostBytes().size() >= hostBytes; });
    state.cancelRequested = true;
    worker.join();
    EXPECT_TRUE(reached) << "the run never got that far";
    return result;
  }
  void expectEndedCancelled() {
    const auto posted = messages();
    ASSERT_FALSE(posted.empty());
    EXPECT_EQ(posted.back(), failureMessage(RunFailure::Cancelled));
    EXPECT_EQ(countOf(posted, UWM_ERROR), 1) << ::testing::PrintToString(posted);
    EXPECT_FALSE(device->endOfRunByte().has_value());
  }
};

class CancelInsideTheRun : public CancelledRun,
                           public ::testing::WithParamInterface<CancelPoint> {};

TEST_P(CancelInsideTheRun, LeavesTheDeviceReadyForTheNextRun) {
  const CancelPoint& point = GetParam();
  // The reply comes a little late, so the cancel finds the host waiting for it.
  sim::SimConfig config = faultAt(sim::FaultKind::LateReply, point.step, point.occurrence);
  config.fault.lateBy = 80ms;
  timings.handshakeLimit = 3s;  // a confused device must not stall the next run
  startDevice(config);
  loadImage(kRecords);
  EXPECT_EQ(runCancelledAt(point.hostBytes), 1u);
  expectEndedCancelled();
  const Bytes sent = hostBytes();
  ASSERT_GE(sent.size(), point.hostBytes);
  if (point.step == sim::SimStep::Sync) {
    // No further request; the acceptance that came late is taken back.
    EXPECT_EQ(sent, bytesOf({0x53, 0x03, 0x45, 0x00}));
  } else {
    EXPECT_EQ(Bytes(sent.end() - 3, sent.end()), bytesOf({0x03, 0x45, 0x00}));
  }

  state.cancelRequested = false;
  state.cursor = 0;
  EXPECT_EQ(runWorker(), 0u) << ::testing::PrintToString(messages());
  EXPECT_EQ(device->endOfRunByte(), std::optional<std::uint8_t>(0x5A));
  expectDeviceHoldsImage(kRecords);
}

// Host bytes of the segment: 'S' 1; 'W' 1, first header 10, data 64; 'W' 1,
// full header 5, data 64; 'W' 1, last header 7, data 2 (156 in all); then per
// read-back block 'R' 1, header 7 / 2 / 4, 0xBB 1, ACK 1.
INSTANTIATE_TEST_SUITE_P(
    Steps, CancelInsideTheRun,
    ::testing::Values(CancelPoint{"Handshake", sim::SimStep::Sync, 1, 1},
                      CancelPoint{"AfterWrite", sim::SimStep::WriteCommand, 2, 77},
                      CancelPoint{"AfterWriteHeader", sim::SimStep::WriteHeader, 2, 82},
                      CancelPoint{"AfterData", sim::SimStep::WriteData, 2, 146},
                      CancelPoint{"AfterRead", sim::SimStep::ReadCommand, 2, 167},
                      CancelPoint{"AfterReadHeader", sim::SimStep::ReadHeader, 2, 169},
                      CancelPoint{"WhileTheDataCome", sim::SimStep::DataRequest, 2, 170},
                      CancelPoint{"AfterReadAck", sim::SimStep::ReadAck, 2, 171}),
    [](const auto& info) { return std::string(info.param.name); });

// Two segments, so that the second one's handshake comes after a verified one.
const std::vector<ImageRecord> kTwoSegments{{0, 0x2000, Bytes(130, 0x3C), {}, {}},
                                            {0, 0x3000, Bytes(20, 0x5A), {}, {}}};

struct LaterHandshakeCancel {
  const char* name;
  std::chrono::milliseconds answerLate;  // the answer to the second segment's 'S'
  bool afterTheAnswer;                   // cancel once it came, else while it is due
};

void PrintTo(const LaterHandshakeCancel& point, std::ostream* out) {
  *out << point.name;
}

class CancelDuringALaterHandshake : public CancelledRun,
                                    public ::testing::WithParamInterface<LaterHandshakeCancel> {
 protected:
  // The device has answered the second segment's request. Before it, for
  // the first segment: its ACK to 'S'; three replies per write block; per
  // read-back block three replies and the data (130 bytes in all).
  bool acceptedSecondRequest() const {
    constexpr std::size_t kFirstSegmentAnswers = 1 + 3 * 3 + 3 * 3 + 130;
    return device->syncRequests() >= 2 && device->bytesToHost().size() >= kFirstSegmentAnswers + 1;
  }
};

TEST_P(CancelDuringALaterHandshake, TakesTheAcceptanceBackWithTheAbort) {
  const LaterHandshakeCancel& point = GetParam();
  sim::SimConfig config = faultAt(sim::FaultKind::LateReply, sim::SimStep::Sync, 2);
  config.fault.lateBy = point.answerLate;
  timings.handshakeLimit = 3s;
  startDevice(config);
  loadImage(kTwoSegments);
  std::uint32_t result = 99;
  std::thread worker([&] { result = runWorker(); });
  const bool reached = waitUntil(
      [&] { return point.afterTheAnswer ? acceptedSecondRequest() : device->syncRequests() >= 2; });
  state.cancelRequested = true;
  worker.join();
  ASSERT_TRUE(reached) << "the run never got that far";
  EXPECT_EQ(result, 1u);
  expectEndedCancelled();
  // The device's last word is its answer to the abort packet.
  const auto line = device->transcript();
  ASSERT_GE(line.size(), 4u);
  const std::vector<sim::TranscriptEntry> closing(line.end() - 4, line.end());
  EXPECT_EQ(closing, (std::vector<sim::TranscriptEntry>{
                         {true, 0x03}, {true, 0x45}, {true, 0x00}, {false, sim::kAbortReply}}));

  state.cancelRequested = false;
  state.cursor = 0;
  EXPECT_EQ(runWorker(), 0u) << ::testing::PrintToString(messages());
  EXPECT_EQ(device->endOfRunByte(), std::optional<std::uint8_t>(0x5A));
  expectDeviceHoldsImage(kTwoSegments);
}

INSTANTIATE_TEST_SUITE_P(
    Moments, CancelDuringALaterHandshake,
    ::testing::Values(LaterHandshakeCancel{"WhileTheAnswerIsDue", 300ms, false},
                      LaterHandshakeCancel{"RightAfterTheAcceptingAnswer", 0ms, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CancelledRun, ASilentDeviceIsGivenUpAtOnce) {
  timings.replyBound = 60s;
  startDevice(faultAt(sim::FaultKind::Silence, sim::SimStep::WriteHeader, 2));
  loadImage(kRecords);
  const auto started = Clock::now();
  EXPECT_EQ(runCancelledAt(82), 1u);
  EXPECT_LT(Clock::now() - started, 20s);  // not the minute the reply bound allows
  expectEndedCancelled();
  EXPECT_EQ(hostBytes().size(), 82u);  // nothing more for a device that says nothing
}

// Passes every message on, and acts as soon as the segment has been read
// back, before the comparison and the end-of-run byte.
class OnReadBackDone final : public MessageSink {
 public:
  OnReadBackDone(MessageSink& next, std::function<void()> action)
      : next_(next), action_(std::move(action)) {}
  void post(const WorkerMessage& message) noexcept override {
    next_.post(message);
    if (message.id == UWM_VERIFY_DONE) action_();
  }

 private:
  MessageSink& next_;
  std::function<void()> action_;
};

TEST_F(CancelledRun, ACancelAfterTheLastBlockStillSignalsTheVerifiedRun) {
  // The device takes long over its answer to 'Z'; the cancel cuts only that.
  sim::SimConfig config = faultAt(sim::FaultKind::LateReply, sim::SimStep::EndOfRun, 1);
  config.fault.lateBy = 3s;
  timings.replyBound = 5s;
  startDevice(config);
  loadImage(kRecords);
  OnReadBackDone dialog(queue, [this] { state.cancelRequested = true; });
  state.busy = BusyState::Downloading;
  EXPECT_EQ(DownloadWorker(state, dialog, *link), 0u);
  const auto posted = messages();
  EXPECT_EQ(countOf(posted, UWM_ERROR) + countOf(posted, UWM_PORT_FAIL), 0)
      << ::testing::PrintToString(posted);
  EXPECT_EQ(device->endOfRunByte(), std::optional<std::uint8_t>(0x5A));
  const auto line = device->transcript();
  ASSERT_FALSE(line.empty());
  EXPECT_EQ(line.back(), (sim::TranscriptEntry{true, 0x5A}));  // its answer is still due
}

TEST_F(CancelledRun, AnEndOfRunByteThatCannotGoOutIsNoSuccess) {
  startDevice();
  loadImage(kRecords);
  OnReadBackDone dialog(queue, [this] { device->stop(); });  // unplugged
  state.busy = BusyState::Downloading;
  DownloadWorker(state, dialog, *link);
  const auto posted = messages();
  ASSERT_FALSE(posted.empty());
  EXPECT_EQ(posted.back(), failureMessage(RunFailure::PortOpen));
  EXPECT_FALSE(device->endOfRunByte().has_value());
}

}  // namespace
}  // namespace voltrix::test

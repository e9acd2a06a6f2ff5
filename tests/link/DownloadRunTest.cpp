#include <thread>

#include "engine/DownloadWorker.h"
#include "engine/RunFailure.h"
#include "tests/link/LinkFixture.h"

namespace voltrix::test {
namespace {

std::vector<ImageRecord> mixedSegments() {
  std::vector<ImageRecord> records;
  std::int32_t address = 0x10000;
  std::uint32_t seed = 7;
  for (std::uint32_t length : {0u, 1u, 63u, 64u, 65u, 1000u}) {
    ImageRecord record{0, address, {}, {}, {}};
    for (std::uint32_t i = 0; i < length; ++i) {
      seed = seed * 1103515245u + 12345u;
      record.data.push_back(static_cast<std::uint8_t>(seed >> 16));
    }
    records.push_back(record);
    address += 0x800;
  }
  records.insert(records.begin() + 2, ImageRecord{SKIP_RECORD, 0x5, {9, 9}, {}, {}});
  return records;
}

class DownloadRun : public LinkFixture {};

TEST_F(DownloadRun, AMultiSegmentImageEndsUpInTheDevice) {
  startDevice();
  const auto records = mixedSegments();
  loadImage(records);
  EXPECT_EQ(runWorker(), 0u);
  expectDeviceHoldsImage(records);
  EXPECT_EQ(device->endOfRunByte(), std::optional<std::uint8_t>(0x5A));
  EXPECT_EQ(state.busy, BusyState::Idle);
  EXPECT_EQ(state.cursor, 6);
  auto posted = messages();
  EXPECT_EQ(countOf(posted, UWM_ERROR), 0);
  EXPECT_EQ(countOf(posted, UWM_CONNECTED), 6);
  for (int n = 1; n <= 6; ++n) {
    EXPECT_FALSE(test::fileExists(inRun(segmentFileName(n, "W", "sysbin.bin"))));
    EXPECT_FALSE(test::fileExists(inRun(segmentFileName(n, "R", "sysbin.bin"))));
  }
  // Nothing is left: the folder went with the image's copy.
  EXPECT_FALSE(test::fileExists(runFolder));
}

TEST_F(DownloadRun, AFortyByteSegmentPostsTheKnownSequence) {
  startDevice();
  loadImage({{0, 0x300, imageBytesSendingCount(40), {}, {}}});
  EXPECT_EQ(runWorker(), 0u);
  EXPECT_EQ(
      messages(),
      (std::vector<WorkerMessage>{
          waitMessage(texts::kRequestDownloading), connected(),
          addressMessage(UWM_SEGMENT_OK, 0x300, 40), waitMessage(texts::kRequestVerifying),
          addressMessage(UWM_VERIFY_DONE, 0x300, 40), addressMessage(UWM_SEGMENT_OK, 0x328, 40)}));
}

TEST_F(DownloadRun, AWrongByteOnReadBackFailsTheComparisonAndSignalsFailure) {
  startDevice(faultAt(sim::FaultKind::WrongByte, sim::SimStep::DataRequest, 2));
  loadImage({{0, 0x100, Bytes(10, 1), {}, {}},
             {0, 0x200, Bytes(10, 2), {}, {}},
             {0, 0x300, Bytes(10, 3), {}, {}}});
  EXPECT_EQ(runWorker(), 1u);
  auto posted = messages();
  ASSERT_FALSE(posted.empty());
  EXPECT_EQ(posted.back(), failureMessage(RunFailure::VerifyMismatch));
  EXPECT_EQ(countOf(posted, UWM_SEGMENT_OK), 1 + 2);  // first verified; two writes with remainders
  EXPECT_EQ(device->endOfRunByte(), std::optional<std::uint8_t>(0x45));
  EXPECT_FALSE(test::fileExists(inRun("F_1_W_sysbin.bin")));
  EXPECT_TRUE(test::fileExists(inRun("F_2_W_sysbin.bin")));
  EXPECT_TRUE(test::fileExists(inRun("F_2_R_sysbin.bin")));
  EXPECT_EQ(state.cursor, 2);
  EXPECT_EQ(device->memoryRange(0x300, 10), Bytes(10, 0xFF));  // third never touched
}

TEST_F(DownloadRun, ASilentDeviceMidSegmentEndsTheRunWithoutSignal) {
  startDevice(faultAt(sim::FaultKind::Silence, sim::SimStep::WriteData, 2));
  loadImage({{0, 0x100, Bytes(300, 1), {}, {}}});
  EXPECT_EQ(runWorker(), 1u);
  auto posted = messages();
  ASSERT_FALSE(posted.empty());
  EXPECT_EQ(posted.back(), failureMessage(RunFailure::DeviceSilent));
  EXPECT_EQ(countOf(posted, UWM_ERROR), 1);
  EXPECT_FALSE(device->endOfRunByte().has_value());
  EXPECT_EQ(state.busy, BusyState::Idle);
  EXPECT_TRUE(test::fileExists(inRun("F_1_W_sysbin.bin")));
}

TEST_F(DownloadRun, AnUnpluggedDeviceMidSegmentEndsTheRun) {
  startDevice(faultAt(sim::FaultKind::HangUp, sim::SimStep::WriteHeader, 3));
  loadImage({{0, 0x100, Bytes(300, 1), {}, {}}});
  EXPECT_EQ(runWorker(), 1u);
  auto posted = messages();
  ASSERT_FALSE(posted.empty());
  EXPECT_EQ(posted.back(), failureMessage(RunFailure::PortGone));
  EXPECT_EQ(countOf(posted, UWM_ERROR), 1);
  EXPECT_EQ(state.busy, BusyState::Idle);
}

TEST_F(DownloadRun, ACancelledHandshakeEndsCleanly) {
  startDevice(faultAt(sim::FaultKind::Silence, sim::SimStep::Sync, 1));
  loadImage({{0, 0x100, Bytes(10, 1), {}, {}}});
  std::thread worker([this] { runWorker(); });
  // Cancel once the device has ignored a couple of requests.
  int waits = 0;
  while (waits < 2) {
    auto message = queue.next(std::chrono::seconds(20));
    ASSERT_TRUE(message.has_value());
    waits += message->id == UWM_WAIT;
  }
  state.cancelRequested = true;
  worker.join();
  auto posted = messages();
  ASSERT_FALSE(posted.empty());
  EXPECT_EQ(posted.back(), failureMessage(RunFailure::Cancelled));
  EXPECT_EQ(state.busy, BusyState::Idle);
  // The port is free again.
  SerialPort port(fixedDeviceResolver(device->devicePath()));
  EXPECT_TRUE(port.Open(1, 57600));
}

TEST_F(DownloadRun, AnEmptyReadBackBlockFailsVerificationLikeAShortOne) {
  // Half of a one-byte block is nothing at all, but the device goes on
  // answering: the segment is unverified and the device is told so.
  for (const std::uint32_t length : {1u, 2u}) {
    SCOPED_TRACE(length);
    startDevice(faultAt(sim::FaultKind::ShortBlock, sim::SimStep::DataRequest, 1));
    loadImage({{0, 0x100, Bytes(length, 9), {}, {}}});
    EXPECT_EQ(runWorker(), 1u);
    auto posted = messages();
    ASSERT_FALSE(posted.empty());
    EXPECT_EQ(posted.back(), failureMessage(RunFailure::VerifyMismatch));
    EXPECT_EQ(countOf(posted, UWM_ERROR), 1);
    EXPECT_EQ(device->endOfRunByte(), std::optional<std::uint8_t>(0x45));
  }
}

TEST_F(DownloadRun, AnEmptyReadBackBlockFromASilentDeviceIsSilence) {
  startDevice(faultAt(sim::FaultKind::Silence, sim::SimStep::DataRequest, 1));
  loadImage({{0, 0x100, Bytes(1, 9), {}, {}}});
  EXPECT_EQ(runWorker(), 1u);
  auto posted = messages();
  ASSERT_FALSE(posted.empty());
  EXPECT_EQ(posted.back(), failureMessage(RunFailure::DeviceSilent));
  EXPECT_FALSE(device->endOfRunByte().has_value());
}

class LateReplies : public DownloadRun, public ::testing::WithParamInterface<int> {};

TEST_P(LateReplies, StillVerify) {
  startDevice(answeringLate(std::chrono::milliseconds(GetParam())));
  const std::vector<ImageRecord> records{{0, 0x100, Bytes(130, 0x42), {}, {}},
                                         {0, 0x400, Bytes(7, 0x17), {}, {}}};
  loadImage(records);
  EXPECT_EQ(runWorker(), 0u);
  EXPECT_EQ(countOf(messages(), UWM_ERROR), 0);
  expectDeviceHoldsImage(records);
  EXPECT_EQ(device->endOfRunByte(), std::optional<std::uint8_t>(0x5A));
}

INSTANTIATE_TEST_SUITE_P(Latencies, LateReplies, ::testing::Values(0, 1, 5, 20));

TEST_F(DownloadRun, NoCursorLeftSignalsSuccessAtOnce) {
  startDevice();
  loadImage({{0, 0x100, Bytes(10, 1), {}, {}}});
  state.cursor = 1;
  EXPECT_EQ(runWorker(), 0u);
  EXPECT_EQ(hostBytes(), bytesOf({0x5A}));
}

}  // namespace
}  // namespace voltrix::test

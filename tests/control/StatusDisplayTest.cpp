#include <gtest/gtest.h>

#include <string>

#include "control/StatusDisplay.h"
#include "engine/SystemTexts.h"

namespace voltrix {
namespace {

constexpr std::time_t kConnectAt = 1'700'000'000;

class StatusDisplayTest : public ::testing::Test {
 protected:
  StatusDisplayTest() { state.imageName = texts::kImageFileName; }
  void apply(const WorkerMessage& message, std::time_t now = kConnectAt) {
    display.apply(message, state, now);
  }
  void connectAt(std::time_t now) {
    apply(textMessage(UWM_CONNECTED, texts::kConnectedSpace), now);
  }
  void stepTimes(int count) {
    for (int i = 0; i < count; ++i) apply(textMessage(UWM_WAIT, texts::kRequestDownloading));
  }

  DownloadState state;
  StatusDisplay display;
};

TEST(ElapsedTime, MinutesWrapAtSixtyAndHoursAreDropped) {
  const struct {
    long seconds;
    int minutes, secs;
  } cases[] = {{0, 0, 0},      {59, 0, 59},  {60, 1, 0},
               {3599, 59, 59}, {3600, 0, 0}, {3725, 2, 5},  // 1 h 2 min 5 s
               {90061, 1, 1}};
  for (const auto& c : cases) {
    EXPECT_EQ(elapsedMinutes(c.seconds), c.minutes) << c.seconds;
    EXPECT_EQ(elapsedSeconds(c.seconds), c.secs) << c.seconds;
  }
}

TEST_F(StatusDisplayTest, ErrorLineNamesTheImageAndLeavesTheBar) {
  stepTimes(3);
  apply(textMessage(UWM_ERROR, texts::kFileOpeningError));
  EXPECT_EQ(display.statusText(), "ERROR:File Opening error!!  文件名[sysbin.bin]");
  EXPECT_TRUE(display.textChanged());
  EXPECT_EQ(display.progressPosition(), 30);
  // A missing text shows as an empty reason instead of taking the dialog down.
  apply(WorkerMessage{UWM_ERROR, 0, 0, nullptr});
  EXPECT_EQ(display.statusText(), "ERROR:!  文件名[sysbin.bin]");
}

TEST_F(StatusDisplayTest, StatusLineNeverGrowsPastTheBuffer) {
  static const std::string longText(400, 'x');
  apply(textMessage(UWM_WAIT, longText.c_str()));
  EXPECT_EQ(display.statusText(), std::string(255, 'x'));
  apply(textMessage(UWM_ERROR, longText.c_str()));
  EXPECT_EQ(display.statusText(), "ERROR:" + std::string(249, 'x'));
}

TEST_F(StatusDisplayTest, PortFailureShowsItsTextAndEmptiesTheBar) {
  stepTimes(4);
  apply(textMessage(UWM_PORT_FAIL, texts::kFailToOpenCom));
  EXPECT_EQ(display.statusText(), "Fail to open the COM!");
  EXPECT_EQ(display.progressPosition(), 0);
}

TEST_F(StatusDisplayTest, UnusedMessageNumberChangesNothing) {
  connectAt(kConnectAt);
  stepTimes(2);
  apply(WorkerMessage{1726, 0x100, 64, texts::kFileOpeningError}, kConnectAt + 99);
  EXPECT_FALSE(display.textChanged());
  EXPECT_EQ(display.statusText(), "Request for downloading, please wait...");
  EXPECT_EQ(display.progressPosition(), 20);
  EXPECT_EQ(state.startTime, kConnectAt);
  EXPECT_EQ(state.endTime, 0);
}

TEST_F(StatusDisplayTest, WaitStepsTheBarByTenAndWrapsPastTheTop) {
  apply(textMessage(UWM_WAIT, texts::kRequestVerifying));
  EXPECT_EQ(display.statusText(), "Request for verifying, please wait...");
  EXPECT_EQ(display.progressPosition(), 10);
  stepTimes(9);
  EXPECT_EQ(display.progressPosition(), 100);
  stepTimes(1);
  EXPECT_EQ(display.progressPosition(), 0);
  // From between two steps it wraps to the start as well.
  apply(addressMessage(UWM_WRITE_PROGRESS, 95, 100));
  stepTimes(1);
  EXPECT_EQ(display.progressPosition(), 0);
}

TEST_F(StatusDisplayTest, ConnectStartsTheClockAndEmptiesTheBar) {
  stepTimes(5);
  connectAt(kConnectAt);
  EXPECT_EQ(state.startTime, kConnectAt);
  EXPECT_EQ(display.statusText(), "Connect successfully!");
  EXPECT_EQ(display.progressPosition(), 0);
}

TEST_F(StatusDisplayTest, ProgressShowsTheElapsedTimeSinceConnect) {
  connectAt(kConnectAt);
  apply(addressMessage(UWM_WRITE_PROGRESS, 0, 64), kConnectAt + 7);
  EXPECT_EQ(display.statusText(), "Time00:07");
  apply(addressMessage(UWM_VERIFY_PROGRESS, 0, 64), kConnectAt + 3725);
  EXPECT_EQ(display.statusText(), "Time02:05");
  EXPECT_EQ(state.startTime, kConnectAt);
  EXPECT_EQ(state.endTime, 0);
}

TEST_F(StatusDisplayTest, ProgressIsTheShareBeforeTheAnnouncedBlock) {
  state.currentAddress = 0x8000;
  const struct {
    std::uint32_t id, address;
    int position;
  } cases[] = {{UWM_WRITE_PROGRESS, 0x8000, 0},
               {UWM_WRITE_PROGRESS, 0x8000 + 512, 50},
               {UWM_VERIFY_PROGRESS, 0x8000 + 1000, 97},  // truncated, not rounded
               {UWM_VERIFY_PROGRESS, 0x8000 + 1024, 100},
               {UWM_WRITE_PROGRESS, 0x8000 + 4096, 100},  // clamped
               // Processed after the worker moved past this segment's start:
               // the unsigned difference is huge and the bar stays full.
               {UWM_VERIFY_PROGRESS, 0x4000, 100}};
  for (const auto& c : cases) {
    apply(addressMessage(c.id, c.address, 1024));
    EXPECT_EQ(display.progressPosition(), c.position) << std::hex << c.address;
  }
  // Both products overflow 32 bits; their difference still holds.
  state.currentAddress = 0x08000000;
  apply(addressMessage(UWM_WRITE_PROGRESS, 0x08000000 + 640, 6400));
  EXPECT_EQ(display.progressPosition(), 10);
}

TEST_F(StatusDisplayTest, ProgressWithoutALengthLeavesTheBarAlone) {
  connectAt(kConnectAt);
  stepTimes(3);
  apply(addressMessage(UWM_WRITE_PROGRESS, 0x40, 0), kConnectAt + 61);
  EXPECT_EQ(display.progressPosition(), 30);
  EXPECT_EQ(display.statusText(), "Time01:01");
}

TEST_F(StatusDisplayTest, SegmentSuccessStampsTheEndAndShowsTheTransferTime) {
  connectAt(kConnectAt);
  apply(addressMessage(UWM_WRITE_PROGRESS, 0, 640), kConnectAt + 10);
  apply(addressMessage(UWM_SEGMENT_OK, 600, 640), kConnectAt + 3725);
  EXPECT_EQ(state.endTime, kConnectAt + 3725);
  EXPECT_EQ(display.statusText(), "Update successfully! TIME:02:05");
  EXPECT_EQ(display.progressPosition(), 100);
}

TEST_F(StatusDisplayTest, TransferEndsFillTheBarAndKeepTheTimeLine) {
  for (const auto id : {UWM_VERIFY_DONE, UWM_WRITE_DONE}) {
    SCOPED_TRACE(id);
    connectAt(kConnectAt);
    apply(addressMessage(UWM_WRITE_PROGRESS, 0, 640), kConnectAt + 42);
    apply(addressMessage(id, 640, 640), kConnectAt + 50);
    EXPECT_FALSE(display.textChanged());
    EXPECT_EQ(display.statusText(), "Time00:42");
    EXPECT_EQ(display.progressPosition(), 100);
    EXPECT_EQ(state.endTime, kConnectAt + 50);
    EXPECT_EQ(state.startTime, kConnectAt);
  }
}

}  // namespace
}  // namespace voltrix

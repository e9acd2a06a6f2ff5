#include <gtest/gtest.h>

#include "port/LineNotifications.h"

namespace voltrix {
namespace {

using Notifications = std::vector<LineNotification>;

// A look at a quiet line whose driver tells everything.
LineLook quietLine() {
  LineLook look;
  look.modemLinesKnown = true;
  look.eventCountsKnown = true;
  return look;
}

TEST(LineNotificationRules, NothingChangedIsNoNews) {
  EXPECT_EQ(notificationsBetween(quietLine(), quietLine()), Notifications{});
  EXPECT_EQ(notificationsBetween(LineLook{}, LineLook{}), Notifications{});
}

TEST(LineNotificationRules, ReceivedBytesShowInTheQueueOrTheCounter) {
  LineLook before = quietLine();
  LineLook now = quietLine();
  now.queued = 3;
  EXPECT_EQ(notificationsBetween(before, now), (Notifications{{UWM_COMM_RXCHAR, 0}}));
  // Read away between the looks: only the counter saw them.
  now.queued = 0;
  now.eventCounts.received = 3;
  EXPECT_EQ(notificationsBetween(before, now), (Notifications{{UWM_COMM_RXCHAR, 0}}));
  // A queue that shrank is no reception.
  before.queued = 5;
  now = before;
  now.queued = 2;
  EXPECT_EQ(notificationsBetween(before, now), Notifications{});
}

TEST(LineNotificationRules, ModemLineChangesCarryTheNewLevel) {
  LineLook before = quietLine();
  LineLook now = quietLine();
  now.modemLines.cts = true;
  now.modemLines.carrier = true;
  EXPECT_EQ(notificationsBetween(before, now),
            (Notifications{{UWM_COMM_CTS, 1}, {UWM_COMM_RLSD, 0}}));
  EXPECT_EQ(notificationsBetween(now, before),
            (Notifications{{UWM_COMM_CTS, 0}, {UWM_COMM_RLSD, 0}}));
  now = before;
  now.modemLines.dsr = true;
  EXPECT_EQ(notificationsBetween(before, now), (Notifications{{UWM_COMM_DSR, 1}}));
}

TEST(LineNotificationRules, ARingIsToldWhenItStarts) {
  LineLook silent = quietLine();
  LineLook ringing = quietLine();
  ringing.modemLines.ring = true;
  EXPECT_EQ(notificationsBetween(silent, ringing), (Notifications{{UWM_COMM_RING, 0}}));
  EXPECT_EQ(notificationsBetween(ringing, silent), Notifications{});
  // A whole ring between two looks shows in the counter only.
  LineLook rangMeanwhile = quietLine();
  rangMeanwhile.eventCounts.ring = 2;
  EXPECT_EQ(notificationsBetween(silent, rangMeanwhile), (Notifications{{UWM_COMM_RING, 0}}));
}

TEST(LineNotificationRules, CountedChangesNeedKnownLevelsToBeTold) {
  LineLook before = quietLine();
  LineLook now = quietLine();
  now.eventCounts.cts = 1;
  now.eventCounts.dsr = 1;
  now.eventCounts.carrier = 1;
  now.modemLines.dsr = true;
  EXPECT_EQ(notificationsBetween(before, now),
            (Notifications{{UWM_COMM_CTS, 0}, {UWM_COMM_DSR, 1}, {UWM_COMM_RLSD, 0}}));
  now.modemLinesKnown = false;
  EXPECT_EQ(notificationsBetween(before, now), (Notifications{{UWM_COMM_RLSD, 0}}));
}

TEST(LineNotificationRules, UnknownPartsTakeNoPartInTheComparison) {
  LineLook before;
  LineLook now;
  now.eventCounts.received = 10;
  now.modemLines.cts = true;
  EXPECT_EQ(notificationsBetween(before, now), Notifications{});
  before.eventCountsKnown = true;  // known on one side only
  before.modemLinesKnown = true;
  EXPECT_EQ(notificationsBetween(before, now), Notifications{});
}

TEST(LineNotificationRules, TransmitEmptyWhenTheLastByteLeft) {
  LineLook sending = quietLine();
  sending.unsent = 40;
  LineLook sent = quietLine();
  EXPECT_EQ(notificationsBetween(sending, sent), (Notifications{{UWM_COMM_TXEMPTY, 0}}));
  LineLook stillSending = sending;
  stillSending.unsent = 1;
  EXPECT_EQ(notificationsBetween(sending, stillSending), Notifications{});
  EXPECT_EQ(notificationsBetween(sent, sent), Notifications{});
}

TEST(LineNotificationRules, EverythingAtOnceComesInAFixedOrder) {
  LineLook before = quietLine();
  before.unsent = 1;
  LineLook now = quietLine();
  now.queued = 1;
  now.modemLines = {true, true, true, true};
  EXPECT_EQ(notificationsBetween(before, now), (Notifications{{UWM_COMM_RXCHAR, 0},
                                                              {UWM_COMM_CTS, 1},
                                                              {UWM_COMM_DSR, 1},
                                                              {UWM_COMM_RING, 0},
                                                              {UWM_COMM_RLSD, 0},
                                                              {UWM_COMM_TXEMPTY, 0}}));
}

TEST(LineErrorRules, EachCounterHasItsBit) {
  const LineErrorCounts none;
  EXPECT_EQ(lineErrorsBetween(none, none), 0u);
  LineErrorCounts counted;
  counted.frame = 1;
  EXPECT_EQ(lineErrorsBetween(none, counted), kLineErrorFrame);
  counted = {};
  counted.parity = 2;
  EXPECT_EQ(lineErrorsBetween(none, counted), kLineErrorParity);
  counted = {};
  counted.overrun = 1;
  EXPECT_EQ(lineErrorsBetween(none, counted), kLineErrorOverrun);
  counted = {};
  counted.bufferOverrun = 1;
  EXPECT_EQ(lineErrorsBetween(none, counted), kLineErrorRxOver);
  counted = {};
  counted.breaks = 1;
  EXPECT_EQ(lineErrorsBetween(none, counted), kLineErrorBreak);
  counted = {3, 3, 3, 3, 3};
  EXPECT_EQ(lineErrorsBetween(none, counted), 0x1Fu);
  EXPECT_EQ(lineErrorsBetween(counted, counted), 0u);
}

TEST(LineErrorRules, ABreakIsToldBeforeTheError) {
  EXPECT_EQ(notificationsForErrors(0), Notifications{});
  EXPECT_EQ(notificationsForErrors(kLineErrorFrame | kLineErrorParity),
            (Notifications{{UWM_COMM_ERROR, kLineErrorFrame | kLineErrorParity}}));
  EXPECT_EQ(notificationsForErrors(kLineErrorBreak | kLineErrorFrame),
            (Notifications{{UWM_COMM_BREAK, 0}, {UWM_COMM_ERROR, 0x18}}));
}

}  // namespace
}  // namespace voltrix

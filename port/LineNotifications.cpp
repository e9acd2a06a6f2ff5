#include "port/LineNotifications.h"

namespace voltrix {

std::uint32_t lineErrorsBetween(const LineErrorCounts& before, const LineErrorCounts& now) {
  std::uint32_t errors = 0;
  if (now.frame != before.frame) errors |= kLineErrorFrame;
  if (now.parity != before.parity) errors |= kLineErrorParity;
  if (now.overrun != before.overrun) errors |= kLineErrorOverrun;
  if (now.bufferOverrun != before.bufferOverrun) errors |= kLineErrorRxOver;
  if (now.breaks != before.breaks) errors |= kLineErrorBreak;
  return errors;
}

std::vector<LineNotification> notificationsBetween(const LineLook& before, const LineLook& now) {
  bool received = now.queued > before.queued;
  bool cts = false;
  bool dsr = false;
  bool ring = false;
  bool carrier = false;
  // Counters catch a change that came and went between two looks; the
  // levels catch one on a driver that counts nothing.
  if (before.eventCountsKnown && now.eventCountsKnown) {
    const LineEventCounts& was = before.eventCounts;
    const LineEventCounts& is = now.eventCounts;
    received = received || is.received != was.received;
    cts = is.cts != was.cts;
    dsr = is.dsr != was.dsr;
    ring = is.ring != was.ring;
    carrier = is.carrier != was.carrier;
  }
  if (before.modemLinesKnown && now.modemLinesKnown) {
    const ModemLines& was = before.modemLines;
    const ModemLines& is = now.modemLines;
    cts = cts || is.cts != was.cts;
    dsr = dsr || is.dsr != was.dsr;
    // A ring is its start; the line falling again is no news.
    ring = ring || (is.ring && !was.ring);
    carrier = carrier || is.carrier != was.carrier;
  }

  std::vector<LineNotification> notifications;
  if (received) notifications.push_back({UWM_COMM_RXCHAR, 0});
  // The level goes with the news, so a line without known levels tells none.
  if (cts && now.modemLinesKnown) {
    notifications.push_back({UWM_COMM_CTS, now.modemLines.cts ? 1u : 0u});
  }
  if (dsr && now.modemLinesKnown) {
    notifications.push_back({UWM_COMM_DSR, now.modemLines.dsr ? 1u : 0u});
  }
  if (ring) notifications.push_back({UWM_COMM_RING, 0});
  if (carrier) notifications.push_back({UWM_COMM_RLSD, 0});
  if (before.unsent > 0 && now.unsent == 0) notifications.push_back({UWM_COMM_TXEMPTY, 0});
  return notifications;
}

std::vector<LineNotification> notificationsForErrors(std::uint32_t errorBits) {
  std::vector<LineNotification> notifications;
  if (errorBits == 0) return notifications;
  if (errorBits & kLineErrorBreak) notifications.push_back({UWM_COMM_BREAK, 0});
  notifications.push_back({UWM_COMM_ERROR, errorBits});
  return notifications;
}

}  // namespace voltrix

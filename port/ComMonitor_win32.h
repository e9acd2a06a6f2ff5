#pragma once
// The thread that waits for an open port's communications events and tells
// the notify sink about them. The line errors it takes from the port on the
// way are handed on to the reader, so that a read still discards what came
// in with an error, whichever thread asked the port first.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <thread>

#include "platform/WinHandle_win32.h"
#include "port/LineNotifications.h"

namespace voltrix {

class ComMonitor {
 public:
  // EV_RXCHAR, EV_TXEMPTY, EV_CTS, EV_DSR, EV_RLSD, EV_BREAK, EV_ERR and
  // EV_RING: every event but EV_RXFLAG.
  static constexpr DWORD kEventMask = 0x1FD;

  ComMonitor();
  ~ComMonitor() { stop(); }
  ComMonitor(const ComMonitor&) = delete;
  ComMonitor& operator=(const ComMonitor&) = delete;

  // Watches `port` until stop(), telling whatever sink `sink` holds at the
  // time and adding the error bits it takes to `takenErrors`. A failing
  // SetCommMask is reported naming `reportingSource`, the port class's own
  // source file, and ends the thread. False when the thread did not start.
  bool start(HANDLE port, std::uint32_t portNumber, const std::atomic<SerialNotifySink*>& sink,
             std::atomic<DWORD>& takenErrors, const char* reportingSource);
  // Returns once the thread has ended; harmless when none runs. The port
  // must stay open until then.
  void stop();
  // The thread is watching: started, and not ended by a SetCommMask failure.
  bool running() const { return watching_.load(); }

 private:
  void watch();
  // Waits for the event wait issued last: an event came, the wait failed
  // (ask again), or the monitor was told to stop.
  enum class Woken { Event, Retry, Stop };
  Woken awaitEvent();
  // True when told to stop within `pause`.
  bool stopWithin(DWORD pauseMs);
  void dispatch(DWORD events);
  // The port's line errors, cleared, and its queue state into `status`.
  DWORD takeErrors(COMSTAT& status);

  HANDLE port_ = INVALID_HANDLE_VALUE;  // borrowed from the port class
  std::uint32_t portNumber_ = 0;
  const std::atomic<SerialNotifySink*>* sink_ = nullptr;
  std::atomic<DWORD>* takenErrors_ = nullptr;
  const char* reportingSource_ = "";
  // A notification of received bytes is due once this many are queued.
  DWORD receiveThreshold_ = 0;

  WinHandle waitEvent_;  // the event of the WaitCommEvent record
  WinHandle stopEvent_;
  // Written by the driver when a wait completes; a member, not a local, so
  // that a wait ended late never writes into a dead stack frame.
  OVERLAPPED overlapped_{};
  DWORD events_ = 0;
  std::atomic<bool> running_{false};
  std::atomic<bool> watching_{false};
  std::thread thread_;
};

}  // namespace voltrix

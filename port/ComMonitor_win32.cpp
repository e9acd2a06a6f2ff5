#include "port/ComMonitor_win32.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace voltrix {

namespace {

// Pause before the next WaitCommEvent after one failed, so that a port in
// trouble does not keep a core busy until it is closed; it doubles while the
// failures go on.
constexpr DWORD kRetryPauseMs = 50;
constexpr DWORD kLongestRetryPauseMs = 1000;
// How long a cancelled event wait may take to complete.
constexpr DWORD kCancelGraceMs = 1000;
// The line the port class has always reported its SetCommMask failure from.
constexpr int kSetCommMaskReportLine = 654;
constexpr char kReportCaption[] = "Class SerialPort";

bool hasUsableErrorStream() {
  const HANDLE stream = ::GetStdHandle(STD_ERROR_HANDLE);
  return stream != nullptr && stream != INVALID_HANDLE_VALUE &&
         ::GetFileType(stream) != FILE_TYPE_UNKNOWN;
}

DWORD WINAPI showReportBox(void* parameter) {
  const std::unique_ptr<std::string> text(static_cast<std::string*>(parameter));
  ::MessageBoxA(nullptr, text->c_str(), kReportCaption, MB_OK);
  return 0;
}

// A console program tells it on its error stream; a program without one
// shows a box. The box has a thread of its own, so that neither the monitor
// nor the Close that stops it waits for the operator.
void reportMonitorFailure(const char* text) {
  if (hasUsableErrorStream()) {
    const std::string line = std::string(kReportCaption) + ": " + text + "\r\n";
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()),
                &written, nullptr);
    return;
  }
  auto owned = std::make_unique<std::string>(text);
  const HANDLE box = ::CreateThread(nullptr, 0, showReportBox, owned.get(), 0, nullptr);
  if (box == nullptr) return;
  owned.release();  // the box's thread frees it
  ::CloseHandle(box);
}

}  // namespace

ComMonitor::ComMonitor() : waitEvent_(makeManualResetEvent()), stopEvent_(makeManualResetEvent()) {}

bool ComMonitor::start(HANDLE port, std::uint32_t portNumber,
                       const std::atomic<SerialNotifySink*>& sink, std::atomic<DWORD>& takenErrors,
                       const char* reportingSource) {
  stop();
  if (!waitEvent_.valid() || !stopEvent_.valid()) return false;
  ::ResetEvent(stopEvent_.get());
  port_ = port;
  portNumber_ = portNumber;
  sink_ = &sink;
  takenErrors_ = &takenErrors;
  reportingSource_ = reportingSource;
  running_.store(true);
  watching_.store(true);
  try {
    thread_ = std::thread(&ComMonitor::watch, this);
  } catch (const std::system_error&) {
    running_.store(false);
    watching_.store(false);
    return false;
  }
  return true;
}

void ComMonitor::stop() {
  if (!thread_.joinable()) return;
  running_.store(false);
  // Clearing the mask completes a pending wait on a real driver; the stop
  // event wakes the thread wherever it waits.
  ::SetCommMask(port_, 0);
  ::SetEvent(stopEvent_.get());
  thread_.join();
  ::ResetEvent(stopEvent_.get());
  watching_.store(false);
}

void ComMonitor::watch() {
  if (!::SetCommMask(port_, kEventMask)) {
    const DWORD error = ::GetLastError();
    char text[256];
    std::snprintf(text, sizeof text,
                  "%s(%d) : COM%d Call WINAPI SetCommMask(%x, %x) Fail, thread work invalid! "
                  "GetLastError() = %d;",
                  reportingSource_, kSetCommMaskReportLine, static_cast<int>(portNumber_),
                  static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(port_)),
                  static_cast<unsigned>(kEventMask), static_cast<int>(error));
    reportMonitorFailure(text);
    watching_.store(false);
    return;
  }
  DWORD retryPauseMs = kRetryPauseMs;
  while (running_.load()) {
    events_ = 0;
    ::ResetEvent(waitEvent_.get());
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = waitEvent_.get();
    Woken woken = Woken::Event;
    if (!::WaitCommEvent(port_, &events_, &overlapped_)) {
      woken = ::GetLastError() == ERROR_IO_PENDING ? awaitEvent() : Woken::Retry;
    }
    if (woken == Woken::Stop) break;
    if (woken == Woken::Retry) {
      // A driver that cannot wait for events (Wine's, on a pseudo-terminal)
      // fails every time: ask again less and less often.
      if (stopWithin(retryPauseMs)) break;
      retryPauseMs = std::min(retryPauseMs * 2, kLongestRetryPauseMs);
      continue;
    }
    retryPauseMs = kRetryPauseMs;
    if (running_.load()) dispatch(events_);
  }
}

ComMonitor::Woken ComMonitor::awaitEvent() {
  for (;;) {
    const HANDLE waits[2] = {stopEvent_.get(), waitEvent_.get()};
    const DWORD woken = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (woken == WAIT_OBJECT_0 + 1) {
      DWORD transferred = 0;
      if (::GetOverlappedResult(port_, &overlapped_, &transferred, FALSE)) return Woken::Event;
      if (::GetLastError() == ERROR_IO_INCOMPLETE) {
        ::ResetEvent(waitEvent_.get());  // woken for nothing: the wait goes on
        continue;
      }
      return Woken::Retry;
    }
    if (woken != WAIT_OBJECT_0 && !stopWithin(kRetryPauseMs)) continue;
    // Told to stop with the wait still pending: it must be over before the
    // record and the port go.
    ::CancelIoEx(port_, &overlapped_);
    if (::WaitForSingleObject(waitEvent_.get(), kCancelGraceMs) == WAIT_OBJECT_0) {
      DWORD transferred = 0;
      ::GetOverlappedResult(port_, &overlapped_, &transferred, FALSE);
    }
    return Woken::Stop;
  }
}

bool ComMonitor::stopWithin(DWORD pauseMs) {
  return ::WaitForSingleObject(stopEvent_.get(), pauseMs) == WAIT_OBJECT_0 || !running_.load();
}

DWORD ComMonitor::takeErrors(COMSTAT& status) {
  DWORD errors = 0;
  if (!::ClearCommError(port_, &errors, &status)) return 0;
  if (errors != 0) takenErrors_->fetch_or(errors);
  return errors;
}

void ComMonitor::dispatch(DWORD events) {
  // Every event bit counts: a driver may report several in one wait, and
  // an error among them must still be taken.
  DWORD errors = 0;
  bool receivedEnough = false;
  COMSTAT status{};
  if (events & EV_RXCHAR) {
    errors |= takeErrors(status);
    receivedEnough = status.cbInQue >= receiveThreshold_;
  }
  if (events & EV_ERR) errors |= takeErrors(status);

  SerialNotifySink* sink = sink_->load(std::memory_order_acquire);
  if (sink == nullptr) return;
  std::vector<LineNotification> told;
  if (receivedEnough) told.push_back({UWM_COMM_RXCHAR, 0});
  if (events & EV_TXEMPTY) told.push_back({UWM_COMM_TXEMPTY, 0});
  DWORD modem = 0;
  if ((events & (EV_CTS | EV_DSR)) && ::GetCommModemStatus(port_, &modem)) {
    if (events & EV_CTS) told.push_back({UWM_COMM_CTS, (modem & MS_CTS_ON) ? 1u : 0u});
    if (events & EV_DSR) told.push_back({UWM_COMM_DSR, (modem & MS_DSR_ON) ? 1u : 0u});
  }
  if (events & EV_RLSD) told.push_back({UWM_COMM_RLSD, 0});
  // The error rules tell a break of their own.
  if ((events & EV_BREAK) && !(errors & CE_BREAK)) told.push_back({UWM_COMM_BREAK, 0});
  for (const LineNotification& notification : notificationsForErrors(errors)) {
    told.push_back(notification);
  }
  if (events & EV_RING) told.push_back({UWM_COMM_RING, 0});
  for (const LineNotification& notification : told) {
    sink->notify(notification.message, portNumber_, notification.lParam);
  }
}

}  // namespace voltrix

// Termination requests on Win32: the console's control events, handled on a
// thread the system starts for them.

#include <windows.h>
// After windows.h: the C runtime's view of the standard handles.
#include <io.h>

#include <atomic>
#include <cstdio>

#include "platform/ProcessSignals.h"

namespace voltrix {

namespace {

std::atomic<int> requested{0};

// The system ends the process once the handler returns from a close, log-off
// or shut-down event (and in any case some 5 s later): until then the run has
// time to see the flag, close the port and leave its files in order.
constexpr DWORD kGraceAfterClose = 4500;

BOOL WINAPI onControlEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      requested.fetch_add(1);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      requested.fetch_add(1);
      ::Sleep(kGraceAfterClose);
      return TRUE;
    default:
      return FALSE;
  }
}

struct StandardStream {
  std::FILE* file;
  DWORD handleId;
  const char* mode;
};

bool usable(const StandardStream& stream) {
  const HANDLE handle = ::GetStdHandle(stream.handleId);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  const int descriptor = _fileno(stream.file);
  return descriptor >= 0 && _get_osfhandle(descriptor) != -1 && _get_osfhandle(descriptor) != -2;
}

}  // namespace

void ensureStandardStreams() {
  // A program started without a console or with a stream closed writes its
  // texts into the null device rather than into a handle that is not there.
  const StandardStream streams[] = {{stdin, STD_INPUT_HANDLE, "r"},
                                    {stdout, STD_OUTPUT_HANDLE, "w"},
                                    {stderr, STD_ERROR_HANDLE, "w"}};
  for (const StandardStream& stream : streams) {
    if (usable(stream)) continue;
    if (std::freopen("NUL", stream.mode, stream.file) == nullptr) continue;
    const intptr_t opened = _get_osfhandle(_fileno(stream.file));
    if (opened != -1) ::SetStdHandle(stream.handleId, reinterpret_cast<HANDLE>(opened));
  }
}

void catchTerminationRequests() {
  ::SetConsoleCtrlHandler(onControlEvent, TRUE);
}

bool terminationRequested() {
  return requested.load() > 0;
}

int terminationRequestCount() {
  return requested.load();
}

}  // namespace voltrix

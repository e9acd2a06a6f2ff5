// The preflight's facts on Windows: only whether the port opens, and if not,
// whether it is missing, refused or held by another program.

#include <windows.h>

#include "cli/PreflightProbe.h"
#include "platform/WideText_win32.h"

namespace voltrix::cli {

HostFacts probeHost(const PreflightRoots&) {
  return {};
}

DeviceFacts probeDevice(const std::string& path, const PreflightRoots&) {
  DeviceFacts facts;
  facts.path = path;
  const std::string name = path.rfind("\\\\.\\", 0) == 0 ? path : "\\\\.\\" + path;
  HANDLE port = ::CreateFileW(widen(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (port != INVALID_HANDLE_VALUE) {
    ::CloseHandle(port);
    facts.access = NodeAccess::Ready;
    return facts;
  }
  switch (const DWORD error = ::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      facts.access = NodeAccess::Missing;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      // A COM port is opened exclusively: refused access means another holder.
      facts.access = NodeAccess::Busy;
      break;
    default:
      facts.access = NodeAccess::Failed;
      facts.systemMessage = "error " + std::to_string(error);
      break;
  }
  return facts;
}

}  // namespace voltrix::cli

#include "port/PortErrors_win32.h"

#include <iterator>
#include <string_view>

#include "platform/WideText_win32.h"

namespace voltrix {

bool meansPortGone(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:     // the device object is gone
    case ERROR_ACCESS_DENIED:      // a USB serial driver after the unplug
    case ERROR_OPERATION_ABORTED:  // I/O cut off by the unplug
    case ERROR_BAD_COMMAND:        // "the device does not recognize the command"
    case ERROR_GEN_FAILURE:        // "a device attached to the system is not functioning"
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_IO_DEVICE:
    // Wine, once the terminal behind the port has hung up: reads end with a
    // broken pipe, status queries with "not ready".
    case ERROR_BROKEN_PIPE:
    case ERROR_NOT_READY:
      return true;
    default:
      return false;
  }
}

void describeCreateFailure(DWORD error, PortOpenFailure& failure) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      failure.kind = OpenFailure::NoSuchPort;
      break;
    // A port is opened for exclusive use: another holder makes the system
    // deny access rather than report a sharing violation.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      failure.kind = OpenFailure::PortBusy;
      break;
    default:
      failure.kind = OpenFailure::NoSuchPort;
      failure.systemMessage = systemErrorText(error);
      break;
  }
}

void describeSettingsFailure(DWORD error, OpenFailure kindOtherwise, PortOpenFailure& failure) {
  failure.systemMessage = systemErrorText(error);
  if (meansPortGone(error)) {
    failure.kind = OpenFailure::NoSuchPort;
    return;
  }
  failure.kind = kindOtherwise;
  if (kindOtherwise == OpenFailure::ConfigurationFailed)
    failure.settings = SettingsProblem::Refused;
}

std::string systemErrorText(DWORD error) {
  wchar_t text[256] = {};
  const auto format = [&](DWORD language) {
    return ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                            error, language, text, static_cast<DWORD>(std::size(text)), nullptr);
  };
  // English like every other text of the link; a system without English
  // texts gives its own, in UTF-8 like every text of ours (the ANSI call
  // would give it in the machine's code page).
  DWORD length = format(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  if (length == 0) length = format(0);
  std::string message = narrow(std::wstring_view(text, length));
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  if (message.empty()) message = "system error " + std::to_string(error);
  return message;
}

}  // namespace voltrix

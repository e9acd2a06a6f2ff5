#include "port/PortSetup_win32.h"

#include "platform/WideText_win32.h"
#include "port/PortErrors_win32.h"

namespace voltrix {

namespace {

constexpr DWORD kQueueSize = 4096;
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

bool fail(PortOpenFailure& failure, OpenFailure kindOtherwise) {
  describeSettingsFailure(::GetLastError(), kindOtherwise, failure);
  return false;
}

bool isRaw8N1(const DCB& dcb, std::uint32_t baudRate) {
  return dcb.BaudRate == baudRate && dcb.ByteSize == 8 && dcb.Parity == NOPARITY &&
         dcb.StopBits == ONESTOPBIT && !dcb.fOutX && !dcb.fInX && !dcb.fParity;
}

}  // namespace

bool openComDevice(const std::string& devicePath, WinHandle& port, PortOpenFailure& failure) {
  WinHandle opened(::CreateFileW(widen(devicePath).c_str(), GENERIC_READ | GENERIC_WRITE,
                                 0,  // exclusive use
                                 nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!opened.valid()) {
    describeCreateFailure(::GetLastError(), failure);
    return false;
  }
  // Only a communications device has a line state. Anything else (a file,
  // a disk, a printer) is refused here, before a monitor could be started
  // on it.
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(opened.get(), &dcb)) return fail(failure, OpenFailure::NotASerialPort);
  port = std::move(opened);
  return true;
}

bool configureQueues(HANDLE port, PortOpenFailure& failure) {
  if (!::SetupComm(port, kQueueSize, kQueueSize)) {
    return fail(failure, OpenFailure::ConfigurationFailed);
  }
  COMMTIMEOUTS timeouts{};
  if (!::GetCommTimeouts(port, &timeouts)) return fail(failure, OpenFailure::ConfigurationFailed);
  timeouts.ReadIntervalTimeout = 0;
  timeouts.ReadTotalTimeoutMultiplier = 1;
  timeouts.ReadTotalTimeoutConstant = 1000;
  timeouts.WriteTotalTimeoutMultiplier = 1;
  timeouts.WriteTotalTimeoutConstant = 1000;
  if (!::SetCommTimeouts(port, &timeouts)) return fail(failure, OpenFailure::ConfigurationFailed);
  if (!::PurgeComm(port, kPurgeAll)) return fail(failure, OpenFailure::ConfigurationFailed);
  return true;
}

bool applyRaw8N1(HANDLE port, std::uint32_t baudRate, PortOpenFailure& failure) {
  failure.baudRate = baudRate;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(port, &dcb)) return fail(failure, OpenFailure::ConfigurationFailed);
  dcb.BaudRate = baudRate;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  // Whatever an earlier program left behind, the line must carry every
  // byte value as it is: XON/XOFF would swallow 0x11 and 0x13 of the image,
  // error and null characters would replace or drop bytes, DSR sensitivity
  // would drop input, and abort-on-error would fail every read after a
  // line error.
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  if (!::SetCommState(port, &dcb)) return fail(failure, OpenFailure::ConfigurationFailed);

  DCB applied{};
  applied.DCBlength = sizeof applied;
  if (!::GetCommState(port, &applied) || !isRaw8N1(applied, baudRate)) {
    failure.kind = OpenFailure::ConfigurationFailed;
    failure.settings = SettingsProblem::NotTaken;
    return false;
  }
  return true;
}

}  // namespace voltrix

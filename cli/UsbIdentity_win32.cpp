// The USB identity of a COM port is not looked up on Windows yet: the log
// and the preflight check go without it.

#include "cli/UsbIdentity.h"

namespace voltrix::cli {

UsbIdentity usbIdentityOf(const std::string&) {
  return {};
}

UsbIdentity usbIdentityOf(const std::string&, const std::string&) {
  return {};
}

std::string kernelTtyName(const std::string&, const std::string&) {
  return {};
}

}  // namespace voltrix::cli

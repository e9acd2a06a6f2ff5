// The USB identity of a COM port is not looked up on Windows yet: the log
// and the preflight check go without it.

#include "record/UsbIdentity.h"

namespace voltrix {

UsbIdentity usbIdentityOf(const std::string&) {
  return {};
}

UsbIdentity usbIdentityOf(const std::string&, const std::string&) {
  return {};
}

std::string kernelTtyName(const std::string&, const std::string&) {
  return {};
}

}  // namespace voltrix

#pragma once
// Which USB device stands behind a serial device node, as the kernel tells
// it: for the traceability log and the preflight check.

#include <string>

namespace voltrix {

struct UsbIdentity {
  std::string vidPid;   // "0403:6001"
  std::string serial;   // the device's serial number string
  std::string usbPath;  // bus and port chain, "1-2.3": the physical socket
  bool known() const { return !vidPid.empty() || !serial.empty() || !usbPath.empty(); }
};

// Empty fields where the node is no USB device or the system does not tell.
UsbIdentity usbIdentityOf(const std::string& devicePath);

// The same with the kernel's device tree read under `sysRoot` instead of
// /sys (a test's fake tree).
UsbIdentity usbIdentityOf(const std::string& devicePath, const std::string& sysRoot);

// The kernel's name of the terminal behind `devicePath` ("ttyUSB0"), whatever
// link or alias it was named by; empty when none is found.
std::string kernelTtyName(const std::string& devicePath, const std::string& sysRoot);

}  // namespace voltrix

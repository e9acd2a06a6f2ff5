#pragma once
// What tells one terminal device from another on Linux.

#include <string>

namespace voltrix {

// The device behind the open terminal `fd`: its device number and, for a USB
// device, the bus, the device's number on it, its port path and its serial
// number, all from sysfs. Empty when `fd` is no character device.
std::string ttyDeviceIdentity(int fd);

}  // namespace voltrix

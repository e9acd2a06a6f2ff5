#pragma once
// A device's slot: where it is plugged in, which stays the same when the
// system hands out tty or COM numbers in another order.

#include <string>

namespace voltrix {

// The USB physical path of the port `devicePath` (its name under
// /dev/serial/by-path on Linux); empty where the system tells none.
std::string usbSlotOf(const std::string& devicePath);

}  // namespace voltrix

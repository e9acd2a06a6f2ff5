#pragma once
// The Linux numbering of COM ports over a device directory other than /dev,
// so that the order can be checked against nodes a test makes.

#include <memory>
#include <string>
#include <vector>

#include "port/ComResolver.h"

namespace voltrix {

std::shared_ptr<const ComResolver> defaultOrderResolver(std::string deviceDirectory);
std::vector<UsbComPort> usbComPortsIn(const std::string& deviceDirectory);

}  // namespace voltrix

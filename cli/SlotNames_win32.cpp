// Slots on Windows: the COM port's location path is not looked up yet, so a
// device is named by its port.

#include "cli/SlotNames.h"

namespace voltrix::cli {

std::string usbSlotOf(const std::string&) {
  return {};
}

}  // namespace voltrix::cli

// Slots on Windows: the COM port's location path is not looked up yet, so a
// device is named by its port.

#include "record/SlotNames.h"

namespace voltrix {

std::string usbSlotOf(const std::string&) {
  return {};
}

}  // namespace voltrix

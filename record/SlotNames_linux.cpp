// Slots on Linux: udev links every USB serial port under /dev/serial/by-path
// by the physical path of its USB port.

#include <filesystem>
#include <system_error>

#include "record/SlotNames.h"

namespace voltrix {

namespace fs = std::filesystem;

std::string usbSlotOf(const std::string& devicePath) {
  std::error_code error;
  const fs::path device = fs::canonical(devicePath, error);
  if (error) return {};
  fs::directory_iterator it("/dev/serial/by-path", error);
  for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
    std::error_code linkError;
    if (fs::canonical(it->path(), linkError) == device && !linkError) {
      return it->path().filename().string();
    }
  }
  return {};
}

}  // namespace voltrix

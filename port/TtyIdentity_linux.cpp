// The identity of a terminal: the character device's number (st_rdev) names
// the node a phase opened, whatever link led there; the USB device above it
// in sysfs tells a device plugged in afresh, which may get the same number.

#include "port/TtyIdentity_linux.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <system_error>

namespace voltrix {

namespace {

namespace fs = std::filesystem;

// The first line of a sysfs attribute; empty when it cannot be read.
std::string attribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// The USB device the terminal belongs to: the first ancestor of its sysfs
// entry that has a bus and a device number. Empty for a terminal of no USB
// device (an on-board UART, a pseudo-terminal).
std::string usbIdentity(unsigned major, unsigned minor) {
  std::error_code error;
  const fs::path root = fs::canonical("/sys", error);
  if (error) return {};
  fs::path entry = fs::canonical(
      root / "dev" / "char" / (std::to_string(major) + ":" + std::to_string(minor)), error);
  if (error) return {};
  while (!entry.empty() && entry != root && entry.has_relative_path()) {
    if (fs::exists(entry / "busnum", error) && fs::exists(entry / "devnum", error)) {
      return " usb " + attribute(entry / "busnum") + ":" + attribute(entry / "devnum") + " " +
             attribute(entry / "devpath") + " " + attribute(entry / "serial");
    }
    entry = entry.parent_path();
  }
  return {};
}

}  // namespace

std::string ttyDeviceIdentity(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) return {};
  const unsigned majorNumber = major(info.st_rdev);
  const unsigned minorNumber = minor(info.st_rdev);
  return "char " + std::to_string(majorNumber) + ":" + std::to_string(minorNumber) +
         usbIdentity(majorNumber, minorNumber);
}

}  // namespace voltrix

// The USB identity from sysfs: the node's device number leads to its entry
// under /sys/dev/char, and up that entry's device path to the USB device,
// the first ancestor with an idVendor.

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <system_error>

#include "record/UsbIdentity.h"

namespace voltrix {

namespace {

namespace fs = std::filesystem;

constexpr char kSysRoot[] = "/sys";

// The first line of a sysfs attribute; empty when it cannot be read.
std::string attribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// The node's entry in the kernel's device tree: by device number, so that a
// /dev/serial/by-path link or a renamed node finds it too, else by name.
fs::path ttyDeviceEntry(const std::string& devicePath, const fs::path& sysRoot) {
  std::error_code error;
  struct stat info {};
  if (::stat(devicePath.c_str(), &info) == 0 && S_ISCHR(info.st_mode)) {
    const fs::path byNumber =
        sysRoot / "dev" / "char" /
        (std::to_string(major(info.st_rdev)) + ":" + std::to_string(minor(info.st_rdev)));
    const fs::path entry = fs::canonical(byNumber, error);
    if (!error) return entry;
  }
  const fs::path resolved = fs::canonical(devicePath, error);
  const fs::path name = error ? fs::path(devicePath).filename() : resolved.filename();
  const fs::path entry = fs::canonical(sysRoot / "class" / "tty" / name, error);
  return error ? fs::path() : entry;
}

}  // namespace

std::string kernelTtyName(const std::string& devicePath, const std::string& sysRoot) {
  return ttyDeviceEntry(devicePath, sysRoot).filename().string();
}

UsbIdentity usbIdentityOf(const std::string& devicePath, const std::string& sysRoot) {
  std::error_code error;
  const fs::path root = fs::canonical(sysRoot, error);
  if (error) return {};
  fs::path entry = ttyDeviceEntry(devicePath, root);
  // Upwards from the terminal, never past the root of the tree.
  while (!entry.empty() && entry != root && entry.has_relative_path()) {
    if (fs::exists(entry / "idVendor", error)) {
      UsbIdentity identity;
      const std::string vendor = attribute(entry / "idVendor");
      const std::string product = attribute(entry / "idProduct");
      if (!vendor.empty() && !product.empty()) identity.vidPid = vendor + ":" + product;
      identity.serial = attribute(entry / "serial");
      const std::string bus = attribute(entry / "busnum");
      const std::string ports = attribute(entry / "devpath");
      identity.usbPath =
          !bus.empty() && !ports.empty() ? bus + "-" + ports : entry.filename().string();
      return identity;
    }
    entry = entry.parent_path();
  }
  return {};
}

UsbIdentity usbIdentityOf(const std::string& devicePath) {
  return usbIdentityOf(devicePath, kSysRoot);
}

}  // namespace voltrix

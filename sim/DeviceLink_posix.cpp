#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "sim/DeviceLink.h"

namespace voltrix::sim {

std::string deviceLinkPath(const std::string& directory, std::uint32_t comNumber) {
  return directory + "/COM" + std::to_string(comNumber);
}

bool placeDeviceLink(const std::string& linkPath, const std::string& devicePath) {
  // A link under a private name, then renamed over the old one: whoever looks
  // up COM<n> meanwhile finds either the old link or the new one.
  const std::string temporary = linkPath + ".zetak-sim." + std::to_string(::getpid());
  ::unlink(temporary.c_str());
  if (::symlink(devicePath.c_str(), temporary.c_str()) != 0) return false;
  if (::rename(temporary.c_str(), linkPath.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    errno = error;
    return false;
  }
  return true;
}

void removeDeviceLink(const std::string& linkPath, const std::string& devicePath) {
  std::vector<char> target(devicePath.size() + 2);
  const ssize_t length = ::readlink(linkPath.c_str(), target.data(), target.size());
  if (length >= 0 && std::string(target.data(), static_cast<std::size_t>(length)) == devicePath) {
    ::unlink(linkPath.c_str());
  }
}

}  // namespace voltrix::sim

#include "app/DeviceMap.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "engine/FileIo.h"
#include "serial/ComResolver.h"

namespace voltrix {

namespace {

constexpr std::string_view kDevicePrefix = "\\Device\\";
// The query's buffer: longer data do not fit and count as unreadable.
constexpr std::size_t kValueBufferSize = 80;

// File-backed map: the directory is the key, each regular file a value.
class DirectoryDeviceMap final : public DeviceMap {
 public:
  explicit DirectoryDeviceMap(std::string directory) : directory_(std::move(directory)) {}

  DeviceMapValue queryValue(const std::string& key, const std::string& valueName) const override {
    DIR* dir = key == SERIALCOMM_KEY ? ::opendir(directory_.c_str()) : nullptr;
    if (dir == nullptr) return {DeviceMapStatus::KeyUnavailable, {}};
    ::closedir(dir);
    if (valueName.rfind(kDevicePrefix, 0) != 0) return {DeviceMapStatus::ValueMissing, {}};
    const std::string file = directory_ + "/" + valueName.substr(kDevicePrefix.size());
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
      return {DeviceMapStatus::ValueMissing, {}};
    }
    FileDescriptor fd = openForReading(file);
    std::uint8_t buffer[kValueBufferSize + 1];
    const long long got = fd ? readFully(fd.get(), buffer, sizeof buffer) : -1;
    if (got < 0 || static_cast<std::size_t>(got) > kValueBufferSize) {
      return {DeviceMapStatus::ValueMissing, {}};
    }
    std::string data(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(got));
    // A file written with echo ends in a newline; registry strings in a NUL.
    while (!data.empty() && (data.back() == '\n' || data.back() == '\r' || data.back() == '\0' ||
                             data.back() == ' ')) {
      data.pop_back();
    }
    return {DeviceMapStatus::Ok, data};
  }

 private:
  std::string directory_;
};

// The machine's own map: "\Device\VCP0" is the first USB virtual COM port,
// named by the COM number under which the serial layer finds it.
class AttachedDeviceMap final : public DeviceMap {
 public:
  DeviceMapValue queryValue(const std::string& key, const std::string& valueName) const override {
    if (key != SERIALCOMM_KEY) return {DeviceMapStatus::KeyUnavailable, {}};
    if (valueName != VCP0_VALUE) return {DeviceMapStatus::ValueMissing, {}};
    const auto ports = usbVirtualComPorts();
    if (ports.empty()) return {DeviceMapStatus::ValueMissing, {}};
    return {DeviceMapStatus::Ok, "COM" + std::to_string(ports.front().comNumber)};
  }
};

}  // namespace

std::unique_ptr<DeviceMap> systemDeviceMap() {
  if (const char* directory = std::getenv("VOLTRIX_SERIALCOMM"); directory != nullptr) {
    return std::make_unique<DirectoryDeviceMap>(directory);
  }
  return std::make_unique<AttachedDeviceMap>();
}

}  // namespace voltrix

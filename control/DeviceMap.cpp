#include "control/DeviceMap.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>

#include "platform/Utf8Path.h"

namespace voltrix {

namespace {

namespace fs = std::filesystem;

constexpr char kOverrideVariable[] = "VOLTRIX_SERIALCOMM";
constexpr std::string_view kDevicePrefix = "\\Device\\";
// The query's buffer: longer data do not fit and count as unreadable.
constexpr std::size_t kValueBufferSize = 80;

// The data of a value file; empty when there is no regular file under the
// name (a link does not count) or its content does not fit the buffer.
std::optional<std::string> readValueFile(const std::string& file) {
  std::error_code error;
  const fs::path path = pathFromUtf8(file);
  if (!fs::is_regular_file(fs::symlink_status(path, error))) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  char buffer[kValueBufferSize + 1];
  in.read(buffer, sizeof buffer);
  if (in.bad()) return std::nullopt;
  const auto got = static_cast<std::size_t>(in.gcount());
  if (got > kValueBufferSize) return std::nullopt;
  std::string data(buffer, got);
  // A file written with echo ends in a newline; registry strings in a NUL.
  while (!data.empty() && (data.back() == '\n' || data.back() == '\r' || data.back() == '\0' ||
                           data.back() == ' ')) {
    data.pop_back();
  }
  return data;
}

// File-backed map: the directory is the key, each regular file a value.
class DirectoryDeviceMap final : public DeviceMap {
 public:
  explicit DirectoryDeviceMap(std::string directory) : directory_(std::move(directory)) {}

  DeviceMapValue queryValue(const std::string& key, const std::string& valueName) const override {
    if (key != SERIALCOMM_KEY || !directoryReadable()) return {DeviceMapStatus::KeyUnavailable, {}};
    if (valueName.rfind(kDevicePrefix, 0) != 0) return {DeviceMapStatus::ValueMissing, {}};
    const auto data = readValueFile(fileOf(valueName.substr(kDevicePrefix.size())));
    if (!data) return {DeviceMapStatus::ValueMissing, {}};
    return {DeviceMapStatus::Ok, *data};
  }

  std::vector<DeviceMapEntry> values(const std::string& key) const override {
    std::vector<DeviceMapEntry> entries;
    if (key != SERIALCOMM_KEY) return entries;
    std::error_code error;
    fs::directory_iterator it(pathFromUtf8(directory_), error);
    for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
      const std::string name = utf8FromPath(it->path().filename());
      if (const auto data = readValueFile(fileOf(name))) {
        entries.emplace_back(std::string(kDevicePrefix) + name, *data);
      }
    }
    std::sort(entries.begin(), entries.end());
    return entries;
  }

 private:
  bool directoryReadable() const {
    std::error_code error;
    const fs::directory_iterator it(pathFromUtf8(directory_), error);
    return !error;
  }
  std::string fileOf(const std::string& name) const { return directory_ + "/" + name; }

  std::string directory_;
};

}  // namespace

std::vector<DeviceMapEntry> DeviceMap::values(const std::string&) const {
  return {};
}

std::unique_ptr<DeviceMap> directoryDeviceMap(std::string directory) {
  return std::make_unique<DirectoryDeviceMap>(std::move(directory));
}

std::unique_ptr<DeviceMap> systemDeviceMap() {
  if (const char* directory = std::getenv(kOverrideVariable); directory != nullptr) {
    return directoryDeviceMap(directory);
  }
  return platformDeviceMap();
}

}  // namespace voltrix

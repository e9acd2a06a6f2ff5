// The device map on Windows: the registry's own serial-port map.

#include "control/DeviceMap.h"
#include "platform/RegistryKey_win32.h"

namespace voltrix {

namespace {

// The query's buffer: longer data do not fit and count as unreadable.
constexpr std::size_t kValueBufferSize = 80;

class RegistryDeviceMap final : public DeviceMap {
 public:
  DeviceMapValue queryValue(const std::string& key, const std::string& valueName) const override {
    const RegistryKey opened(HKEY_LOCAL_MACHINE, key);
    if (!opened.isOpen()) return {DeviceMapStatus::KeyUnavailable, {}};
    auto data = opened.value(valueName, kValueBufferSize);
    if (!data) return {DeviceMapStatus::ValueMissing, {}};
    return {DeviceMapStatus::Ok, std::move(*data)};
  }

  std::vector<DeviceMapEntry> values(const std::string& key) const override {
    return RegistryKey(HKEY_LOCAL_MACHINE, key).values(kValueBufferSize);
  }
};

}  // namespace

std::unique_ptr<DeviceMap> platformDeviceMap() {
  return std::make_unique<RegistryDeviceMap>();
}

}  // namespace voltrix

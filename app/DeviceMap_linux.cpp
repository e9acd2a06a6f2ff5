// The device map on Linux: built from the attached devices.

#include "app/DeviceMap.h"
#include "serial/ComResolver.h"

namespace voltrix {

namespace {

// "\Device\VCP0" is the first USB virtual COM port, named by the COM number
// under which the serial layer finds it.
class AttachedDeviceMap final : public DeviceMap {
 public:
  DeviceMapValue queryValue(const std::string& key, const std::string& valueName) const override {
    if (key != SERIALCOMM_KEY) return {DeviceMapStatus::KeyUnavailable, {}};
    if (valueName != VCP0_VALUE) return {DeviceMapStatus::ValueMissing, {}};
    const auto ports = usbVirtualComPorts();
    if (ports.empty()) return {DeviceMapStatus::ValueMissing, {}};
    return {DeviceMapStatus::Ok, "COM" + std::to_string(ports.front().comNumber)};
  }

  std::vector<DeviceMapEntry> values(const std::string& key) const override {
    const DeviceMapValue first = queryValue(key, VCP0_VALUE);
    if (first.status != DeviceMapStatus::Ok) return {};
    return {{VCP0_VALUE, first.data}};
  }
};

}  // namespace

std::unique_ptr<DeviceMap> platformDeviceMap() {
  return std::make_unique<AttachedDeviceMap>();
}

}  // namespace voltrix

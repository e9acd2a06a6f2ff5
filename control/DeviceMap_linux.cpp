// The device map on Linux: built from the attached devices.

#include <charconv>
#include <optional>
#include <string_view>

#include "control/DeviceMap.h"
#include "port/ComResolver.h"

namespace voltrix {

namespace {

constexpr std::string_view kVcpPrefix = "\\Device\\VCP";

// "\Device\VCP<n>" is the n-th USB virtual COM port (counting from 0) of the
// serial layer's order, named by the COM number under which it finds it; so
// "\Device\VCP0" is the first, as the download command expects.
class AttachedDeviceMap final : public DeviceMap {
 public:
  DeviceMapValue queryValue(const std::string& key, const std::string& valueName) const override {
    if (key != SERIALCOMM_KEY) return {DeviceMapStatus::KeyUnavailable, {}};
    const auto index = vcpIndex(valueName);
    if (!index) return {DeviceMapStatus::ValueMissing, {}};
    const auto ports = usbVirtualComPorts();
    if (*index >= ports.size()) return {DeviceMapStatus::ValueMissing, {}};
    return {DeviceMapStatus::Ok, comName(ports[*index])};
  }

  std::vector<DeviceMapEntry> values(const std::string& key) const override {
    std::vector<DeviceMapEntry> entries;
    if (key != SERIALCOMM_KEY) return entries;
    const auto ports = usbVirtualComPorts();
    for (std::size_t i = 0; i < ports.size(); ++i) {
      entries.emplace_back(std::string(kVcpPrefix) + std::to_string(i), comName(ports[i]));
    }
    return entries;
  }

 private:
  static std::string comName(const UsbComPort& port) {
    return "COM" + std::to_string(port.comNumber);
  }
  // The n of "\Device\VCP<n>", written without leading zeros.
  static std::optional<std::size_t> vcpIndex(std::string_view name) {
    if (name.substr(0, kVcpPrefix.size()) != kVcpPrefix) return std::nullopt;
    const std::string_view digits = name.substr(kVcpPrefix.size());
    if (digits.empty() || (digits.size() > 1 && digits.front() == '0')) return std::nullopt;
    std::size_t index = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return index;
  }
};

}  // namespace

std::unique_ptr<DeviceMap> platformDeviceMap() {
  return std::make_unique<AttachedDeviceMap>();
}

}  // namespace voltrix

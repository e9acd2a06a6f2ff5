// The device map's watch on Windows: the registry key is read again once a
// second, the slowest a station may notice a new device.

#include <chrono>

#include "control/DeviceMapWatch.h"

namespace voltrix {

namespace {

class PeriodicDeviceMapWatch final : public DeviceMapWatch {
 public:
  bool changed() override {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastChange_ < std::chrono::seconds(1)) return false;
    lastChange_ = now;
    return true;
  }

 private:
  std::chrono::steady_clock::time_point lastChange_{};
};

}  // namespace

std::unique_ptr<DeviceMapWatch> watchDeviceMap() {
  return std::make_unique<PeriodicDeviceMapWatch>();
}

// The device map lists the ports that are there; a COM name is no file.
bool devicePresent(const std::string& devicePath) {
  return !devicePath.empty();
}

// Without a node to look at, an appearance is known from the map alone.
std::optional<DeviceNodeIdentity> deviceNodeIdentity(const std::string& devicePath) {
  if (devicePath.empty()) return std::nullopt;
  return DeviceNodeIdentity{};
}

}  // namespace voltrix

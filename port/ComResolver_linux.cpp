// COM numbers on Linux: the default order over the nodes in /dev.

#include "port/ComResolver_linux.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "port/ComOrder.h"
#include "port/ComResolver.h"

namespace voltrix {

namespace {

namespace fs = std::filesystem;

constexpr char kDeviceDirectory[] = "/dev";

std::vector<std::string> deviceNames(const std::string& deviceDirectory) {
  std::vector<std::string> names;
  std::error_code error;
  fs::directory_iterator it(deviceDirectory, error);
  for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
    names.push_back(it->path().filename().string());
  }
  return names;
}

// The on-board UART that COM1..COM4 stand for.
std::string onboardNode(const std::string& deviceDirectory, std::uint32_t portNumber) {
  return deviceDirectory + "/ttyS" + std::to_string(portNumber - 1);
}

class DefaultOrderResolver final : public ComResolver {
 public:
  explicit DefaultOrderResolver(std::string deviceDirectory)
      : deviceDirectory_(std::move(deviceDirectory)) {}
  ComResolution resolve(std::uint32_t portNumber) const override {
    if (portNumber == 0) return {"", "COM0 does not exist: COM ports are numbered from 1"};
    if (portNumber <= comorder::kOnboardPorts) {
      const std::string node = onboardNode(deviceDirectory_, portNumber);
      std::error_code error;
      return comorder::resolveOnboard(portNumber, node, fs::exists(node, error));
    }
    return comorder::resolveUsb(portNumber, usbComPortsIn(deviceDirectory_));
  }

 private:
  std::string deviceDirectory_;
};

}  // namespace

std::shared_ptr<const ComResolver> defaultOrderResolver(std::string deviceDirectory) {
  return std::make_shared<DefaultOrderResolver>(std::move(deviceDirectory));
}

std::vector<UsbComPort> usbComPortsIn(const std::string& deviceDirectory) {
  std::vector<std::string> paths;
  for (const auto& name : comorder::orderUsbDeviceNames(deviceNames(deviceDirectory))) {
    paths.push_back(deviceDirectory + "/" + name);
  }
  return comorder::numberUsbPorts(paths);
}

std::shared_ptr<const ComResolver> platformComResolver() {
  return defaultOrderResolver(kDeviceDirectory);
}

std::vector<UsbComPort> platformUsbComPorts() {
  return usbComPortsIn(kDeviceDirectory);
}

std::string platformPortDevice(const std::string& named) {
  return named;
}

}  // namespace voltrix

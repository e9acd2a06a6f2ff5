// COM numbers on Linux: the default order over the nodes in /dev.

#include <filesystem>
#include <system_error>

#include "serial/ComOrder.h"
#include "serial/ComResolver.h"

namespace voltrix {

namespace {

namespace fs = std::filesystem;

constexpr char kDeviceDirectory[] = "/dev";

std::vector<std::string> deviceNames() {
  std::vector<std::string> names;
  std::error_code error;
  fs::directory_iterator it(kDeviceDirectory, error);
  for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
    names.push_back(it->path().filename().string());
  }
  return names;
}

// The on-board UART that COM1..COM4 stand for.
std::string onboardNode(std::uint32_t portNumber) {
  return std::string(kDeviceDirectory) + "/ttyS" + std::to_string(portNumber - 1);
}

class DefaultOrderResolver final : public ComResolver {
 public:
  ComResolution resolve(std::uint32_t portNumber) const override {
    if (portNumber == 0) return {"", "COM0 does not exist: COM ports are numbered from 1"};
    if (portNumber <= comorder::kOnboardPorts) {
      const std::string node = onboardNode(portNumber);
      std::error_code error;
      return comorder::resolveOnboard(portNumber, node, fs::exists(node, error));
    }
    return comorder::resolveUsb(portNumber, platformUsbComPorts());
  }
};

}  // namespace

std::shared_ptr<const ComResolver> platformComResolver() {
  return std::make_shared<DefaultOrderResolver>();
}

std::vector<UsbComPort> platformUsbComPorts() {
  std::vector<std::string> paths;
  for (const auto& name : comorder::orderUsbDeviceNames(deviceNames())) {
    paths.push_back(std::string(kDeviceDirectory) + "/" + name);
  }
  return comorder::numberUsbPorts(paths);
}

std::string platformPortDevice(const std::string& named) {
  return named;
}

}  // namespace voltrix

// COM numbers on Windows: port n is the device \\.\COMn, a name that also
// reaches ports 10 and up (plain "COM10" does not open).

#include <algorithm>
#include <string_view>

#include "platform/RegistryKey_win32.h"
#include "port/ComNumber.h"
#include "port/ComOrder.h"
#include "port/ComResolver.h"

namespace voltrix {

namespace {

constexpr char kSerialCommKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM\\";
// The device objects of USB virtual COM ports: \Device\VCP0, \Device\VCP1...
constexpr std::string_view kUsbDevicePrefix = "\\Device\\VCP";
// As the device map reads its values.
constexpr std::size_t kValueBufferSize = 80;

std::string comDevice(std::uint32_t portNumber) {
  return "\\\\.\\COM" + std::to_string(portNumber);
}

class DeviceNamespaceResolver final : public ComResolver {
 public:
  ComResolution resolve(std::uint32_t portNumber) const override {
    if (portNumber == 0) return {"", "COM0 does not exist: COM ports are numbered from 1"};
    return {comDevice(portNumber), ""};
  }
};

// The number after \Device\VCP; empty for any other value name.
std::optional<std::uint32_t> usbDeviceNumber(std::string_view valueName) {
  if (valueName.substr(0, kUsbDevicePrefix.size()) != kUsbDevicePrefix) return std::nullopt;
  const DigitRun digits = leadingDigits(valueName.substr(kUsbDevicePrefix.size()));
  if (!digits.rest.empty() || !digits.isPlainNumber(9)) return std::nullopt;
  return digits.value;
}

}  // namespace

std::shared_ptr<const ComResolver> platformComResolver() {
  return std::make_shared<DeviceNamespaceResolver>();
}

std::vector<UsbComPort> platformUsbComPorts() {
  struct Found {
    std::uint32_t deviceNumber;
    std::uint32_t comNumber;
  };
  std::vector<Found> found;
  const RegistryKey map(HKEY_LOCAL_MACHINE, kSerialCommKey);
  for (const auto& [name, data] : map.values(kValueBufferSize)) {
    const auto deviceNumber = usbDeviceNumber(name);
    const auto comNumber = comorder::comNumberOfName(data);
    if (deviceNumber && comNumber) found.push_back({*deviceNumber, *comNumber});
  }
  // VCP0 first, then by the device's number; a port named twice counts once.
  std::sort(found.begin(), found.end(),
            [](const Found& a, const Found& b) { return a.deviceNumber < b.deviceNumber; });
  std::vector<UsbComPort> ports;
  for (const Found& entry : found) {
    const bool seen = std::any_of(ports.begin(), ports.end(), [&](const UsbComPort& port) {
      return port.comNumber == entry.comNumber;
    });
    if (!seen) ports.push_back({entry.comNumber, comDevice(entry.comNumber)});
  }
  return ports;
}

std::string platformPortDevice(const std::string& named) {
  // "COM7" in any case; anything else ("\\.\COM12", a device path) as given.
  if (const auto number = comorder::comNumberOfName(named)) return comDevice(*number);
  return named;
}

}  // namespace voltrix

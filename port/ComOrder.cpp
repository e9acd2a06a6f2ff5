#include "port/ComOrder.h"

#include <algorithm>
#include <utility>

#include "port/ComNumber.h"

namespace voltrix::comorder {

namespace {

// Names carry at most nine digits, so every number fits.
constexpr std::size_t kMaxNameDigits = 9;

std::string comName(std::uint32_t portNumber) {
  return "COM" + std::to_string(portNumber);
}

}  // namespace

std::optional<std::uint32_t> comNumberOfName(std::string_view name) {
  const auto com = parseComDigits(name);
  if (!com || !com->rest.empty() || !com->isPlainNumber(kMaxNameDigits)) return std::nullopt;
  if (*com->value == 0) return std::nullopt;
  return com->value;
}

std::optional<UsbRank> usbRankOfName(std::string_view name) {
  static constexpr std::string_view kFamilies[] = {"ttyACM", "ttyUSB"};
  for (int family = 0; family < 2; ++family) {
    const std::string_view prefix = kFamilies[family];
    if (name.substr(0, prefix.size()) != prefix) continue;
    const DigitRun number = leadingDigits(name.substr(prefix.size()));
    if (number.rest.empty() && number.isPlainNumber(kMaxNameDigits))
      return UsbRank{family, *number.value};
  }
  return std::nullopt;
}

std::vector<std::string> orderUsbDeviceNames(std::vector<std::string> names) {
  std::vector<std::pair<UsbRank, std::string>> ranked;
  for (auto& name : names) {
    if (const auto rank = usbRankOfName(name)) ranked.emplace_back(*rank, std::move(name));
  }
  std::sort(ranked.begin(), ranked.end());
  std::vector<std::string> ordered;
  ordered.reserve(ranked.size());
  for (auto& entry : ranked) ordered.push_back(std::move(entry.second));
  return ordered;
}

std::vector<UsbComPort> numberUsbPorts(const std::vector<std::string>& orderedDevicePaths) {
  std::vector<UsbComPort> ports;
  std::uint32_t comNumber = kFirstUsbComNumber;
  for (const auto& path : orderedDevicePaths) ports.push_back({comNumber++, path});
  return ports;
}

ComResolution resolveOnboard(std::uint32_t portNumber, const std::string& node, bool nodeExists) {
  if (nodeExists) return {node, ""};
  return {"", comName(portNumber) + " stands for " + node + ", which does not exist"};
}

ComResolution resolveUsb(std::uint32_t portNumber, const std::vector<UsbComPort>& ports) {
  for (const auto& port : ports) {
    if (port.comNumber == portNumber) return {port.devicePath, ""};
  }
  if (ports.empty()) return {"", comName(portNumber) + ": no USB virtual COM port is attached"};
  std::string listed;
  for (const auto& port : ports) {
    listed += (listed.empty() ? "" : ", ") + comName(port.comNumber) + " " + port.devicePath;
  }
  return {"", comName(portNumber) +
                  ": no USB virtual COM port has that number (attached: " + listed + ")"};
}

}  // namespace voltrix::comorder

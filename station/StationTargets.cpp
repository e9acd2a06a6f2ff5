#include "station/StationTargets.h"

#include <algorithm>
#include <string_view>

#include "port/ComNumber.h"
#include "port/ComResolver.h"
#include "record/SlotNames.h"
#include "station/NaturalOrder.h"

namespace voltrix {

namespace {

constexpr char kVirtualComPrefix[] = "\\Device\\VCP";
constexpr char kByPathFolder[] = "/dev/serial/by-path/";

// "COM7", "com7" and "\\.\COM7" name one port: the device map gives the
// device path, the operator types the name, in either case.
std::string portKey(std::string_view port) {
  constexpr std::string_view kDeviceNamespace = "\\\\.\\";
  if (port.substr(0, kDeviceNamespace.size()) == kDeviceNamespace) {
    port.remove_prefix(kDeviceNamespace.size());
  }
  const std::optional<DigitRun> com = parseComDigits(port);
  if (com && com->value && com->rest.empty()) return "COM" + std::to_string(*com->value);
  return std::string(port);
}

// The label that names the device in `slot` on `port`.
std::optional<std::size_t> labelOf(const std::string& slot, const std::string& port,
                                   const Labels& labels) {
  for (std::size_t i = 0; i < labels.size(); ++i) {
    const std::string& path = labels[i].first;
    const bool isSlot = !slot.empty() && (path == slot || path == kByPathFolder + slot);
    const bool isPort = !port.empty() && portKey(path) == portKey(port);
    if (isSlot || isPort) return i;
  }
  return std::nullopt;
}

}  // namespace

std::string slotName(const std::string& slot, const std::string& port, const Labels& labels) {
  if (const auto label = labelOf(slot, port, labels)) return labels[*label].second;
  return slot.empty() ? port : slot;
}

void LabelUse::see(const DeviceTarget& target) {
  if (const auto label = labelOf(target.slot, target.port, labels_)) matched_[*label] = true;
}

std::vector<std::string> LabelUse::unmatched() const {
  std::vector<std::string> left;
  for (std::size_t i = 0; i < labels_.size(); ++i) {
    if (!matched_[i]) left.push_back(labels_[i].first + "=" + labels_[i].second);
  }
  return left;
}

namespace {

DeviceTarget targetOf(std::string port, std::uint32_t comNumber, const Labels& labels) {
  DeviceTarget target{std::move(port), {}, {}, comNumber};
  if (!target.port.empty()) target.slot = usbSlotOf(target.port);
  target.name = slotName(target.slot, target.port, labels);
  return target;
}

}  // namespace

std::vector<DeviceTarget> targetsOfPorts(const std::vector<std::string>& ports,
                                         const Labels& labels) {
  std::vector<DeviceTarget> targets;
  for (const std::string& port : ports) targets.push_back(targetOf(port, 0, labels));
  return targets;
}

MapTargets targetsOfMap(const DeviceMap& deviceMap, const Labels& labels) {
  MapTargets result;
  // values() lists nothing for a key it cannot read; the query tells which.
  if (deviceMap.queryValue(SERIALCOMM_KEY, VCP0_VALUE).status == DeviceMapStatus::KeyUnavailable) {
    result.refusal = Refusal::RegistryDamaged;
    return result;
  }
  const auto resolver = systemComResolver();
  std::vector<DeviceMapEntry> values = deviceMap.values(SERIALCOMM_KEY);
  std::stable_sort(values.begin(), values.end(),
                   [](const auto& a, const auto& b) { return naturalLess(a.first, b.first); });
  for (const auto& [name, data] : values) {
    if (name.rfind(kVirtualComPrefix, 0) != 0) continue;
    const int number = portNumberFromValue(data);
    std::string port;
    if (number >= 1) port = resolver->resolve(static_cast<std::uint32_t>(number)).devicePath;
    DeviceTarget target =
        targetOf(std::move(port), static_cast<std::uint32_t>(std::max(number, 0)), labels);
    // A value that names no port is still a device the operator expects.
    if (target.name.empty()) target.name = name;
    result.targets.push_back(std::move(target));
  }
  if (result.targets.empty()) result.refusal = Refusal::DriverNotInstalled;
  return result;
}

}  // namespace voltrix

#pragma once
// The numbering rules behind ComResolver, apart from the file system so that
// they can be checked on any machine.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "port/ComResolver.h"

namespace voltrix::comorder {

// First COM number given to a USB virtual COM port in the default order.
inline constexpr std::uint32_t kFirstUsbComNumber = 5;
// COM1..COM4 stand for the on-board UARTs.
inline constexpr std::uint32_t kOnboardPorts = 4;

// The port number of "COM<n>" in any case ("com3", "Com12"); nullopt for any
// other name, for COM0 and for numbers with leading zeros.
std::optional<std::uint32_t> comNumberOfName(std::string_view name);

// Where a USB virtual COM port device name stands in the default order:
// ttyACM<n> before ttyUSB<n>, each by n. nullopt for any other name.
struct UsbRank {
  int family;  // 0 for ttyACM, 1 for ttyUSB
  std::uint64_t number;
  auto operator<=>(const UsbRank&) const = default;
};
std::optional<UsbRank> usbRankOfName(std::string_view name);

// The names among `names` that are USB virtual COM ports, in the default
// order; the others are dropped.
std::vector<std::string> orderUsbDeviceNames(std::vector<std::string> names);

// The default order over what a machine has. The USB virtual COM ports,
// given first one first, are numbered from COM5 on.
std::vector<UsbComPort> numberUsbPorts(const std::vector<std::string>& orderedDevicePaths);
// COM1..COM4: the on-board node that stands for the number, if it exists.
ComResolution resolveOnboard(std::uint32_t portNumber, const std::string& node, bool nodeExists);
// COM5 and up: the USB port numbered so, or what is attached instead.
ComResolution resolveUsb(std::uint32_t portNumber, const std::vector<UsbComPort>& ports);

}  // namespace voltrix::comorder

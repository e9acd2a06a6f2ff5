#pragma once
// Tells a station when the device map may have changed: a device plugged in
// or out, a value added to or removed from the folder map. The station reads
// the map again when told, and at least once a second in case a change went
// unnoticed; it never asks this more often than its own loop turns.

#include <compare>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace voltrix {

class DeviceMapWatch {
 public:
  virtual ~DeviceMapWatch() = default;
  // Whether the map may have changed since the last call. Never waits.
  virtual bool changed() = 0;
};

// The watch of this machine's device map and of the folders that stand in
// for it ($VOLTRIX_SERIALCOMM, $VOLTRIX_DOSDEVICES). From the platform's
// DeviceMapWatch_<platform>.cpp.
std::unique_ptr<DeviceMapWatch> watchDeviceMap();

// Whether the device node a port resolved to is there now.
bool devicePresent(const std::string& devicePath);

// What tells one appearance of a device node from the next under the same
// name: a device unplugged and plugged in again between two looks at the map
// comes back as a node made anew. Empty when the node is not there.
struct DeviceNodeIdentity {
  std::uint64_t device = 0;  // the character device's number
  std::uint64_t node = 0;    // the node's own file (made anew on every plug-in)
  std::uint64_t link = 0;    // the link that names it, where the name is one
  auto operator<=>(const DeviceNodeIdentity&) const = default;
};
std::optional<DeviceNodeIdentity> deviceNodeIdentity(const std::string& devicePath);

}  // namespace voltrix

#pragma once
// Tells a station when the device map may have changed: a device plugged in
// or out, a value added to or removed from the folder map. The station reads
// the map again when told, and at least once a second in case a change went
// unnoticed; it never asks this more often than its own loop turns.

#include <memory>
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

}  // namespace voltrix

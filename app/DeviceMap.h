#pragma once
// The serial-port device map: the key "HARDWARE\DEVICEMAP\SERIALCOMM\" whose
// values name the machine's serial ports ("\Device\VCP0" -> "COM3").
//
// With VOLTRIX_SERIALCOMM set, that directory is the key and each regular
// file in it a value ("VCP0" is "\Device\VCP0", its content the data).
// Without it, the map is built from the attached devices: the first USB
// virtual COM port is "\Device\VCP0".

#include <memory>
#include <string>

namespace voltrix {

inline constexpr char SERIALCOMM_KEY[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM\\";
inline constexpr char VCP0_VALUE[] = "\\Device\\VCP0";

enum class DeviceMapStatus { Ok, KeyUnavailable, ValueMissing };

struct DeviceMapValue {
  DeviceMapStatus status = DeviceMapStatus::KeyUnavailable;
  std::string data;  // e.g. "COM3"; only with Ok
};

class DeviceMap {
 public:
  virtual ~DeviceMap() = default;
  virtual DeviceMapValue queryValue(const std::string& key, const std::string& valueName) const = 0;
};

std::unique_ptr<DeviceMap> systemDeviceMap();

}  // namespace voltrix

#pragma once
// The serial-port device map: the key "HARDWARE\DEVICEMAP\SERIALCOMM\" whose
// values name the machine's serial ports ("\Device\VCP0" -> "COM3").
//
// With VOLTRIX_SERIALCOMM set, that directory is the key and each regular
// file in it a value ("VCP0" is "\Device\VCP0", its content the data).
// Without it, the platform's own map stands: on Windows the registry's key
// under HKEY_LOCAL_MACHINE; on Linux the attached devices, where the first USB
// virtual COM port is "\Device\VCP0".

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace voltrix {

inline constexpr char SERIALCOMM_KEY[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM\\";
inline constexpr char VCP0_VALUE[] = "\\Device\\VCP0";

enum class DeviceMapStatus { Ok, KeyUnavailable, ValueMissing };

struct DeviceMapValue {
  DeviceMapStatus status = DeviceMapStatus::KeyUnavailable;
  std::string data;  // e.g. "COM3"; only with Ok
};

// A value's name and its data, as queryValue gives them.
using DeviceMapEntry = std::pair<std::string, std::string>;

class DeviceMap {
 public:
  virtual ~DeviceMap() = default;
  virtual DeviceMapValue queryValue(const std::string& key, const std::string& valueName) const = 0;
  // Every value of the key that queryValue reads as Ok, by name; none for a
  // key that cannot be read. A map that cannot list its values lists none.
  virtual std::vector<DeviceMapEntry> values(const std::string& key) const;
};

// The folder map while VOLTRIX_SERIALCOMM is set, the platform's otherwise.
std::unique_ptr<DeviceMap> systemDeviceMap();

// The folder map over `directory`, whatever the variable says.
std::unique_ptr<DeviceMap> directoryDeviceMap(std::string directory);

// The platform's own map, from its DeviceMap_<platform>.cpp.
std::unique_ptr<DeviceMap> platformDeviceMap();

}  // namespace voltrix

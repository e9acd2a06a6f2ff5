#pragma once
// Which devices a station run flashes and what the operator calls them.

#include <string>
#include <utility>
#include <vector>

#include "app/DeviceMap.h"
#include "cli/StationDevice.h"
#include "engine/Refusal.h"

namespace voltrix::cli {

using Labels = std::vector<std::pair<std::string, std::string>>;

// The name a device goes by: the operator's label for its slot or port,
// else its slot, else its port.
std::string slotName(const std::string& slot, const std::string& port, const Labels& labels);

// The devices given with --port, in the order given.
std::vector<DeviceTarget> targetsOfPorts(const std::vector<std::string>& ports,
                                         const Labels& labels);

struct MapTargets {
  std::vector<DeviceTarget> targets;
  Refusal refusal = Refusal::None;  // the map cannot be read, or lists no port
};

// Every USB virtual COM port of the device map ("\Device\VCP..."), in the
// natural order of the values' names (VCP2 before VCP10).
MapTargets targetsOfMap(const DeviceMap& deviceMap, const Labels& labels);

}  // namespace voltrix::cli

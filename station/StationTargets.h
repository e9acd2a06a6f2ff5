#pragma once
// Which devices a station run flashes and what the operator calls them.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "control/DeviceMap.h"
#include "engine/Refusal.h"
#include "station/StationDevice.h"

namespace voltrix {

using Labels = std::vector<std::pair<std::string, std::string>>;

// The name a device goes by: the operator's label for its slot or port,
// else its slot, else its port.
std::string slotName(const std::string& slot, const std::string& port, const Labels& labels);

// Which of the operator's labels have named a device of the run, so that a
// label whose path matches nothing (a typing error, an empty slot) is told
// instead of silently leaving a tty's name in the log.
class LabelUse {
 public:
  explicit LabelUse(const Labels& labels) : labels_(labels), matched_(labels.size(), false) {}
  // Marks the label that names `target`, if one does.
  void see(const DeviceTarget& target);
  // "PATH=NAME" of each label that has named no device so far.
  std::vector<std::string> unmatched() const;

 private:
  Labels labels_;
  std::vector<bool> matched_;
};

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

}  // namespace voltrix

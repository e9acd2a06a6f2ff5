#pragma once
// The end of a station run on a terminal: one row per device.

#include <string>
#include <vector>

#include "control/RunSummary.h"

namespace voltrix::cli {

struct StationRow {
  std::string name;  // the slot's name, or the port where there is none
  RunSummary summary;
};

// The table, a heading and one line per row, each line ending in a newline;
// a line that says so when there is no row. A station the operator
// cancelled says so in a last line, whatever else failed.
std::string stationTable(const std::vector<StationRow>& rows, bool cancelled = false);

}  // namespace voltrix::cli

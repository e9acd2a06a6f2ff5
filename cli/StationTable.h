#pragma once
// The end of a station run: one row per device, and the one exit code that
// stands for all of them.

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

// The worst of the devices' exit codes. A device that may hold wrong data
// is worst, then one that refused, then the station's own trouble, then
// devices that never got the image, then a cancel:
// 9, 7, 10, 1, 8, 6, 5, 4, 3, 2, 11, 0. No device at all is 0.
int worstExitCode(const std::vector<int>& exitCodes);

}  // namespace voltrix::cli

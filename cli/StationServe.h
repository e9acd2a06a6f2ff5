#pragma once
// A station served over HTTP from the same process (--serve): the terminal
// shows it as ever, and the service shows and controls it. Returns the
// process's exit code: the station's, or 2 for a service that may not or
// 1 for one that cannot start.

#include "cli/CliOptions.h"
#include "station/StationObserver.h"
#include "station/StationPlan.h"

namespace voltrix::cli {

int serveStation(const CliOptions& options, StationPlan plan, StationObserver& console);

}  // namespace voltrix::cli

#pragma once
// A station served over HTTP from the same process (--serve), or sending
// its records and state to the line (--line), or both: the terminal shows
// it as ever, the service shows and controls it, the uplink sends. Returns
// the process's exit code: the station's, or 2 for a service that may not
// or a line that cannot be used, or 1 for a service that cannot start.
// With `jobs` and a line, the line's current job is followed and taken.

#include <memory>

#include "cli/CliOptions.h"
#include "station/StationObserver.h"
#include "station/StationPlan.h"

namespace voltrix {
class StationJobs;
}

namespace voltrix::cli {

int serveStation(const CliOptions& options, StationPlan plan, StationObserver& console,
                 std::shared_ptr<StationJobs> jobs);

}  // namespace voltrix::cli

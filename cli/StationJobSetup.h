#pragma once
// voltrix-cli's signed jobs (--trust-key): the keys read and the last good
// job put in use before the station starts, and the hooks by which the
// line's current job reaches the station (with --line). A build without
// signed jobs has none of it: the options refuse --trust-key there.

#include <memory>
#include <string>

#include "cli/CliOptions.h"
#include "station/StationPlan.h"
#include "uplink/JobFollower.h"

namespace voltrix {
class StationJobs;
}

namespace voltrix::cli {

struct OpenedJobs {
  std::shared_ptr<StationJobs> jobs;  // null without --trust-key, or on an error
  std::string error;                  // "--trust-key FILE: ..." when a key is wrong
};

// Without --trust-key: nothing. Otherwise the keys are read, and the plan
// gets the current image the jobs swap (the last good job in it, if any).
OpenedJobs openJobsOf(const CliOptions& options, StationPlan& plan);

// How the line's job is judged and taken by `jobs`.
uplink::JobFollowerHooks followerHooksOf(std::shared_ptr<StationJobs> jobs,
                                         std::shared_ptr<CurrentImage> current);

}  // namespace voltrix::cli

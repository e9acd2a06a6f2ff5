// This voltrix-cli is built without signed jobs (no libsodium): the
// options refuse --trust-key, so nothing here is ever asked for a job.
#include "cli/StationJobSetup.h"

namespace voltrix::cli {

bool signedJobsBuilt() {
  return false;
}

OpenedJobs openJobsOf(const CliOptions&, StationPlan&) {
  return {};
}

uplink::JobFollowerHooks followerHooksOf(std::shared_ptr<StationJobs>,
                                         std::shared_ptr<CurrentImage>) {
  return {};
}

}  // namespace voltrix::cli

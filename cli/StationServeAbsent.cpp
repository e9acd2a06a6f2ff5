// This voltrix-cli is built without the HTTP service and the uplink to the line.
#include "cli/StationServe.h"

namespace voltrix::cli {

int serveStation(const CliOptions& options, StationPlan, StationObserver&,
                 std::shared_ptr<StationJobs>) {
  if (!options.serve) {
    return reportUsageError("--line: this voltrix-cli is built without the uplink to the line");
  }
  return reportUsageError("--serve: this voltrix-cli is built without the HTTP service");
}

}  // namespace voltrix::cli

// This voltrix-cli is built without the HTTP service.
#include "cli/StationServe.h"

namespace voltrix::cli {

int serveStation(const CliOptions&, StationPlan, StationObserver&) {
  return reportUsageError("--serve: this voltrix-cli is built without the HTTP service");
}

}  // namespace voltrix::cli

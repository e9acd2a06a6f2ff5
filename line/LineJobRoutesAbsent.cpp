// This voltrix-line is built without signed jobs: it has no job routes.

#include "line/LineServer.h"

namespace voltrix {

void LineServer::routeJobs() {}

std::string LineServer::jobMetrics() {
  return {};
}

}  // namespace voltrix

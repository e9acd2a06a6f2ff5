#include "cli/StationRun.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/ConsoleTrace.h"
#include "cli/StationConsole.h"
#include "cli/StationJobSetup.h"
#include "cli/StationServe.h"
#include "platform/ProcessSignals.h"
#include "station/Station.h"
#include "station/StationTargets.h"

namespace voltrix::cli {

namespace {

StationPlan planOf(const CliOptions& options) {
  StationPlan plan;
  plan.allOfDeviceMap = options.all;
  plan.watch = options.watch;
  plan.count = options.count;
  plan.labels = options.labels;
  plan.timings = linkTimingsFor(options);
  plan.imagePath = options.image;
  plan.logFile = options.logFile;
  plan.stationName = options.station;
  plan.resultsDb = options.dbFile;
  // Ctrl+C, SIGTERM and SIGHUP cancel the station; a served one (a service
  // that systemd stops) drains first, and cancels on a second request.
  plan.onTerminationRequest = options.serve ? StationPlan::OnTerminationRequest::DrainThenCancel
                                            : StationPlan::OnTerminationRequest::Cancel;
  if (options.verbose) {
    plan.traceFor = [origin = std::chrono::steady_clock::now()](const DeviceTarget& target) {
      const std::string& who = target.port.empty() ? target.name : target.port;
      return std::make_shared<ConsoleTrace>(stderr, who, origin);
    };
  }
  return plan;
}

}  // namespace

int runStation(const CliOptions& options) {
  catchTerminationRequests();
  StationPlan plan = planOf(options);
  if (!options.all && !options.watch) {
    plan.targets = targetsOfPorts(options.ports, options.labels);
    // A label that names none of the devices given is a mistake in the
    // command line; the map's devices may simply not all be plugged in.
    LabelUse labels(options.labels);
    for (const DeviceTarget& target : plan.targets) labels.see(target);
    if (const std::vector<std::string> unmatched = labels.unmatched(); !unmatched.empty()) {
      return reportUsageError("--label " + unmatched.front() +
                              " names none of the devices given with --port");
    }
  }
  // Before the console: a wrong key file ends the station as a bad
  // command line, before any device is touched.
  OpenedJobs jobs = openJobsOf(options, plan);
  if (!jobs.error.empty()) return reportUsageError(jobs.error);
  StationConsole console(options);
  if (options.serve || options.line) {
    return serveStation(options, std::move(plan), console, std::move(jobs.jobs));
  }
  Station station(std::move(plan), console);
  return station.run();
}

}  // namespace voltrix::cli

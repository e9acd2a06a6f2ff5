#include "cli/StationServe.h"

#include <cstdio>
#include <optional>
#include <string>

#include "control/ExitCodes.h"
#include "service/HttpService.h"
#include "station/Station.h"
#include "station/StationObservers.h"

namespace voltrix::cli {

namespace {

// Every control request is told on standard error (a service's journal
// keeps it) and goes into the results database with the station's runs.
class Audit final : public service::ControlAudit {
 public:
  explicit Audit(Station& station) : station_(station) {}
  void record(const ControlAuditEntry& entry) override {
    std::fprintf(stderr, "voltrix-cli: %s asked by %s (%s) from %s: %s\n", entry.action.c_str(),
                 entry.who.empty() ? "nobody known" : entry.who.c_str(), entry.role.c_str(),
                 entry.remoteAddress.c_str(), entry.result.c_str());
    std::fflush(stderr);
    station_.auditControl(entry);
  }

 private:
  Station& station_;
};

}  // namespace

int serveStation(const CliOptions& options, StationPlan plan, StationObserver& console) {
  std::string error;
  const auto address = service::parseServeAddress(*options.serve, error);
  if (!address) return reportUsageError(error);
  service::ServiceSettings settings;
  settings.address = *address;
  if (options.tokenFile) {
    settings.tokens = service::AccessTokens::load(*options.tokenFile, error);
    if (!settings.tokens) return reportUsageError("--token-file " + error);
  }
  if (const std::string refusal = service::serveRefusal(*address, settings.tokens.has_value());
      !refusal.empty()) {
    return reportUsageError(refusal);
  }

  service::StationHub hub;
  service::MemoryRunHistory ownRuns;
  std::optional<service::StoredRunHistory> storedRuns;
  if (plan.resultsDb) storedRuns.emplace(*plan.resultsDb, ownRuns);
  service::RunHistory& history =
      storedRuns ? static_cast<service::RunHistory&>(*storedRuns) : ownRuns;
  StationObservers observers{&console, &ownRuns, &hub};
  Station station(std::move(plan), observers);
  service::ControlsOfStation controls(station);
  Audit audit(station);
  service::HttpService http(hub, history, audit, controls, std::move(settings));
  if (!http.start(error)) {
    std::fprintf(stderr, "voltrix-cli: %s\n", error.c_str());
    return kExitInternal;
  }
  const bool bracketed = address->host.find(':') != std::string::npos;
  std::fprintf(stderr, "voltrix-cli: serving the station on http://%s%s%s:%d/\n",
               bracketed ? "[" : "", address->host.c_str(), bracketed ? "]" : "", http.port());
  std::fflush(stderr);
  const int exitCode = station.run();
  hub.close();
  http.stop();
  return exitCode;
}

}  // namespace voltrix::cli

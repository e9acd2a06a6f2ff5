#include "cli/StationServe.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

#include "cli/StationJobSetup.h"
#include "control/ExitCodes.h"
#include "service/HttpService.h"
#include "station/Station.h"
#include "station/StationObservers.h"
#include "uplink/Uplink.h"

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

// At the station's end the line gets this long to take what waits.
constexpr auto kLineFlushLimit = std::chrono::seconds(5);

// The line's address, token and CA, checked before any device is touched.
std::optional<uplink::UplinkSettings> lineSettings(const CliOptions& options, std::string& error) {
  const auto address = uplink::parseLineUrl(*options.line, error);
  if (!address) return std::nullopt;
  const auto token = uplink::readLineToken(*options.lineTokenFile, error);
  if (!token) return std::nullopt;
  uplink::UplinkSettings settings;
  settings.line.address = *address;
  settings.line.token = *token;
  if (options.lineCa) {
    if (!address->https) {
      error = "--line-ca is for an https line, not " + *options.line;
      return std::nullopt;
    }
    if (!std::ifstream(*options.lineCa)) {
      error = "--line-ca " + *options.lineCa + " cannot be read";
      return std::nullopt;
    }
    settings.line.caFile = *options.lineCa;
  }
  settings.logPath = *options.logFile;
  return settings;
}

}  // namespace

int serveStation(const CliOptions& options, StationPlan plan, StationObserver& console,
                 std::shared_ptr<StationJobs> jobs) {
  std::string error;
  std::optional<service::ServiceSettings> served;
  if (options.serve) {
    const auto address = service::parseServeAddress(*options.serve, error);
    if (!address) return reportUsageError(error);
    served.emplace();
    served->address = *address;
    if (options.tokenFile) {
      served->tokens = service::AccessTokens::load(*options.tokenFile, error);
      if (!served->tokens) return reportUsageError("--token-file " + error);
    }
    if (const std::string refusal = service::serveRefusal(*address, served->tokens.has_value());
        !refusal.empty()) {
      return reportUsageError(refusal);
    }
  }
  std::optional<uplink::UplinkSettings> line;
  if (options.line) {
    line = lineSettings(options, error);
    if (!line) return reportUsageError(error);
  }

  // The hub holds the live state for the dashboard and for the line.
  service::StationHub hub;
  if (line) {
    line->liveState = [&hub] { return hub.slotsJson(); };
    hub.lineNotice({LineNotice::Kind::Progress, line->line.address.url, 0, {}, {}});
  }
  // What the uplink has to say goes to the terminal and the dashboard.
  StationObservers shown{&console, &hub};
  std::optional<uplink::Uplink> uplink;
  std::optional<uplink::LineClientSettings> lineClient;
  if (line) {
    lineClient = line->line;
    uplink.emplace(std::move(*line), shown);
  }
  // The line's current job, followed beside the uplink on a thread of its
  // own: a slow fetch never holds up the records or the devices.
  std::optional<uplink::JobFollower> follower;
  if (lineClient && jobs) {
    uplink::JobFollowerSettings following;
    following.line = *lineClient;
    follower.emplace(std::move(following), followerHooksOf(jobs, plan.currentImage));
  }
  StationObserver none;
  service::MemoryRunHistory ownRuns;
  std::optional<service::StoredRunHistory> storedRuns;
  if (plan.resultsDb) storedRuns.emplace(*plan.resultsDb, ownRuns);
  service::RunHistory& history =
      storedRuns ? static_cast<service::RunHistory&>(*storedRuns) : ownRuns;
  StationObservers observers{&console, &ownRuns, &hub,
                             uplink ? static_cast<StationObserver*>(&*uplink) : &none};
  Station station(std::move(plan), observers);
  service::ControlsOfStation controls(station);
  Audit audit(station);
  std::optional<service::HttpService> http;
  if (served) {
    const service::ServeAddress address = served->address;
    http.emplace(hub, history, audit, controls, std::move(*served));
    if (!http->start(error)) {
      std::fprintf(stderr, "voltrix-cli: %s\n", error.c_str());
      return kExitInternal;
    }
    const bool bracketed = address.host.find(':') != std::string::npos;
    std::fprintf(stderr, "voltrix-cli: serving the station on http://%s%s%s:%d/\n",
                 bracketed ? "[" : "", address.host.c_str(), bracketed ? "]" : "", http->port());
    std::fflush(stderr);
  }
  const int exitCode = station.run();
  follower.reset();
  // The line's outcome never changes the station's exit code: what it
  // lacks waits in the log.
  if (uplink) uplink->finish(kLineFlushLimit);
  hub.close();
  if (http) http->stop();
  return exitCode;
}

}  // namespace voltrix::cli

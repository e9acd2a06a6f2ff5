#pragma once
// A station as the terminal shows it: the devices' lines as they go (see
// StationDisplay) and the notes about them on standard error, then the
// table or one JSON object per device on standard output.

#include <chrono>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/StationDisplay.h"
#include "station/StationObserver.h"

namespace voltrix::cli {

// "voltrix-cli: the log record of PORT could not be kept: REASON" on
// standard error.
void reportLostRecord(const LogRecordLost& lost);

// What the results database has to tell, on standard error: a kind of
// failure the first time it holds the database back, that it caught up
// after one, and lines of the log that are not records.
class ResultsReport {
 public:
  void tell(const ResultsNotice& notice);

 private:
  bool toldBehind_ = false;
};

// What the uplink to the line has to tell, on standard error: that the
// line cannot be reached (once, until it is back), that it is back, a
// refused token (once), a record it refused, and at the end what waits.
class LineReport {
 public:
  void tell(const LineNotice& notice);

 private:
  bool toldUnreachable_ = false;
  bool toldToken_ = false;
};

// A run's summary on standard output: the summary line, or with --json the
// JSON object.
void printSummary(const CliOptions& options, const RunSummary& summary);

class StationConsole final : public StationObserver {
 public:
  explicit StationConsole(const CliOptions& options);

  void deviceAppeared(const DeviceAppeared& event) override;
  void runStarted(const RunStarted& event) override;
  void progressChanged(const DeviceProgress& event) override;
  void portBusyRetry(const PortBusyRetry& event) override;
  void runFinished(const RunFinished& event) override;
  void warning(const StationWarning& event) override;
  void refused(const StationRefused& event) override;
  void logUnavailable(const std::string& error) override;
  void resultsDatabase(const ResultsNotice& notice) override { results_.tell(notice); }
  void passDone(const StationPass& event) override;
  void jobNotice(const StationJobNotice& notice) override;
  void lineNotice(const LineNotice& notice) override { line_.tell(notice); }
  void stationFinished(const StationFinished& event) override;

 private:
  using Clock = std::chrono::steady_clock;

  const CliOptions& options_;
  StationDisplay display_;
  ResultsReport results_;
  LineReport line_;
  std::vector<StationLine> lines_;
  // A watching station says at once that it waits.
  bool redrawDue_ = true;
  bool toldDraining_ = false;
  // Told once each time the job's quota holds the station back.
  bool toldQuota_ = false;
  Clock::time_point lastDrawn_{};
  // Told after the table: which labels named no device while watching.
  std::vector<std::string> unmatchedWhileWatching_;
};

}  // namespace voltrix::cli

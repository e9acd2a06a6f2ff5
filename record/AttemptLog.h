#pragma once
// The traceability log as the runs use it: opened once, each finished
// attempt on a device appended as one record. A record that cannot be kept
// never stops a flash: the caller learns why and says so where it reports.

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "control/RunSummary.h"
#include "record/TraceLog.h"

namespace voltrix {

// A record the log could not keep (a full disk, a file gone read-only).
struct LogRecordLost {
  std::string port;    // of the attempt the record was about
  std::string reason;  // what the file layer said
};

class AttemptLog {
 public:
  // Opens `logFile` when one is given; `station` names the station in every
  // record (the host's name when none is given). False with `error` when
  // the log cannot be opened.
  bool open(const std::optional<std::string>& logFile, const std::optional<std::string>& station,
            std::string& error);
  bool enabled() const { return log_ != nullptr; }
  // The station's name in the records: the one given, or the host's name.
  const std::string& station() const { return station_; }
  // The image every following record names: its path and the sha256 of the
  // bytes the runs use.
  void setImage(const std::string& path, const std::string& sha256);

  struct Attempt {
    std::string slot;
    const RunSummary& summary;
    std::chrono::system_clock::time_point started, ended;
  };
  struct Recorded {
    // The record's line (without its break), with its id, also without a
    // log: what a service shows of the run.
    std::string line;
    // Empty when the record is in the log, or when there is no log; what
    // was lost otherwise.
    std::optional<LogRecordLost> lost;
  };
  Recorded record(const Attempt& attempt);

 private:
  std::unique_ptr<TraceLog> log_;
  std::string station_;
  std::string imagePath_;
  std::string imageSha256_;
};

}  // namespace voltrix

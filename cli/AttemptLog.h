#pragma once
// The traceability log as the runs use it: opened once from --log, each
// finished attempt on a device appended as one record. A record that cannot
// be written is reported on standard error and never stops a flash.

#include <chrono>
#include <memory>
#include <string>

#include "cli/CliOptions.h"
#include "control/RunSummary.h"
#include "record/TraceLog.h"

namespace voltrix::cli {

class AttemptLog {
 public:
  // Opens the log when --log was given; false with `error` when it cannot
  // be opened.
  bool open(const CliOptions& options, std::string& error);
  bool enabled() const { return log_ != nullptr; }
  // The image every following record names: its path and the sha256 of the
  // bytes the runs use.
  void setImage(const std::string& path, const std::string& sha256);

  struct Attempt {
    std::string slot;
    const RunSummary& summary;
    std::chrono::system_clock::time_point started, ended;
  };
  // True when the record is in the log, or when there is no log; false
  // (and said on standard error) when it could not be kept.
  bool record(const Attempt& attempt);

 private:
  std::unique_ptr<TraceLog> log_;
  std::string station_;
  std::string imagePath_;
  std::string imageSha256_;
};

}  // namespace voltrix::cli

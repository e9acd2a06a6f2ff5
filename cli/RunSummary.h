#pragma once
// The one line that ends every run of voltrix-cli, for a person or a factory
// script: how it ended, on which port, how much was verified, how long it
// took; and the same as one JSON object.

#include <cstdint>
#include <string>

#include "engine/WorkerMessages.h"

namespace voltrix::cli {

struct RunSummary {
  enum class Result { Verified, Failed, Refused } result = Result::Failed;
  int exitCode = 0;
  std::string port;         // the device node; empty when none was found
  int segments = 0;         // verified
  int segmentsInImage = 0;  // in the table (0 when none was loaded)
  std::uint64_t bytes = 0;  // of the verified segments
  double seconds = 0;
  std::string failure;  // what failed, in the system's own words
  std::string status;   // the last status text
};

std::string summaryLine(const RunSummary& summary);
std::string summaryJson(const RunSummary& summary);

// Counts the segments a run verified, from its messages: a segment is
// verified when its success comes after its read-back (the write phase of a
// segment with a short last block reports success too).
class VerifiedSegments {
 public:
  void see(const WorkerMessage& message);
  int count() const { return count_; }
  std::uint64_t bytes() const { return bytes_; }

 private:
  bool readBackDone_ = false;
  int count_ = 0;
  std::uint64_t bytes_ = 0;
};

}  // namespace voltrix::cli

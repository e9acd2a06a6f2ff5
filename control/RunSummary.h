#pragma once
// The one line that ends every run of voltrix-cli, for a person or a factory
// script: how it ended, on which port, how much was verified, how long it
// took; and the same as one JSON object.

#include <cstdint>
#include <optional>
#include <string>

#include "engine/WorkerMessages.h"

namespace voltrix {

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
  // What failed, for scripts and in English (see FailureKind.h); empty when
  // nothing failed.
  std::string failureKind;
  std::string failureEnglish;
  // Where it failed: the segment (counted from 1) and its load address; 0
  // when the failure belongs to no segment.
  int failedSegment = 0;
  std::uint32_t failedAddress = 0;
  std::string hint;       // what to do about it, one line each; may be empty
  std::string runFolder;  // the folder a failed run kept, absolute; may be empty
  // A device of a station run: its USB path and the operator's label, and
  // whether the operator cancelled the station.
  bool inStation = false;
  std::string slot;
  std::string label;
  bool stationCancelled = false;
  // With a traceability log: whether the run's record is in it. Empty
  // without a log.
  std::optional<bool> logRecordKept;
};

// The run's record could not be kept in the log (a full disk): the summary
// says so, and a run that verified ends with the file error's exit code, so
// that no script takes an unrecorded device for a recorded one.
void noteLogRecordLost(RunSummary& summary);

// A system text without the spaces some of them are padded with.
std::string withoutPadding(const std::string& text);

// "segment 2 at 0x00014000", or empty when the summary names no segment.
std::string failedPlace(const RunSummary& summary);
// What failed: the English words and the place first, the system's own text
// after them in brackets ("read-back differs from the image, segment 2 at
// 0x00014000 (Incorrect in verifying the read-write data!)").
std::string describeFailure(const RunSummary& summary);

std::string summaryLine(const RunSummary& summary);

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

}  // namespace voltrix

#include "control/RunSummary.h"

#include <cstdio>

#include "control/ExitCodes.h"

namespace voltrix {

namespace {

std::string plural(int count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string secondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", seconds);
  return text;
}

std::string onPort(const std::string& port) {
  return port.empty() ? std::string("no port") : port;
}

}  // namespace

// A system text without the padding some of them carry.
std::string withoutPadding(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string failedPlace(const RunSummary& summary) {
  if (summary.failedSegment < 1) return {};
  char place[64];
  std::snprintf(place, sizeof place, "segment %d at 0x%08X", summary.failedSegment,
                static_cast<unsigned>(summary.failedAddress));
  return place;
}

// The English words first, then the system's own text in brackets.
std::string describeFailure(const RunSummary& summary) {
  const std::string system = withoutPadding(summary.failure);
  std::string words = summary.failureEnglish;
  if (const std::string place = failedPlace(summary); !place.empty()) {
    words += (words.empty() ? "" : ", ") + place;
  }
  if (words.empty()) return system;
  return system.empty() ? words : words + " (" + system + ")";
}

void noteLogRecordLost(RunSummary& summary) {
  summary.logRecordKept = false;
  if (summary.exitCode == kExitOk) summary.exitCode = kExitFileError;
}

namespace {

std::string runLine(const RunSummary& summary) {
  const std::string verified =
      plural(summary.segments, "segment") + ", " + std::to_string(summary.bytes) + " bytes";
  switch (summary.result) {
    case RunSummary::Result::Verified:
      return "verified " + verified + ", on " + onPort(summary.port) + " in " +
             secondsText(summary.seconds);
    case RunSummary::Result::Failed:
      return "failed on " + onPort(summary.port) + ": " + describeFailure(summary) + " (exit " +
             std::to_string(summary.exitCode) + "), " + std::to_string(summary.segments) + " of " +
             plural(summary.segmentsInImage, "segment") + " verified, " +
             std::to_string(summary.bytes) + " bytes, in " + secondsText(summary.seconds);
    case RunSummary::Result::Refused:
      return "refused: " + describeFailure(summary) + " (exit " + std::to_string(summary.exitCode) +
             "), nothing sent";
  }
  return {};
}

}  // namespace

std::string summaryLine(const RunSummary& summary) {
  if (summary.logRecordKept == false) {
    return runLine(summary) + "; its log record could not be kept (exit " +
           std::to_string(summary.exitCode) + ")";
  }
  return runLine(summary);
}

void VerifiedSegments::see(const WorkerMessage& message) {
  switch (message.id) {
    case UWM_VERIFY_DONE:
      readBackDone_ = true;
      break;
    case UWM_SEGMENT_OK:
      if (readBackDone_) {
        ++count_;
        bytes_ += message.lParam;
      }
      readBackDone_ = false;
      break;
    default:
      break;
  }
}

}  // namespace voltrix

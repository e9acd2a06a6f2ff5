#include "cli/RunSummary.h"

#include <cstdio>

#include "cli/ExitCodes.h"
#include "cli/JsonText.h"

namespace voltrix::cli {

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

const char* resultName(RunSummary::Result result) {
  switch (result) {
    case RunSummary::Result::Verified:
      return "verified";
    case RunSummary::Result::Failed:
      return "failed";
    case RunSummary::Result::Refused:
      return "refused";
  }
  return "failed";
}

// A system text without the padding some of them carry.
std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string textOrNull(const std::string& text) {
  return text.empty() ? std::string("null") : jsonString(text);
}

}  // namespace

std::string failedPlace(const RunSummary& summary) {
  if (summary.failedSegment < 1) return {};
  char place[64];
  std::snprintf(place, sizeof place, "segment %d at 0x%08X", summary.failedSegment,
                static_cast<unsigned>(summary.failedAddress));
  return place;
}

// The English words first, then the system's own text in brackets.
std::string describeFailure(const RunSummary& summary) {
  const std::string system = trimmed(summary.failure);
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

std::string summaryJson(const RunSummary& summary) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", summary.seconds);
  std::string json = "{\"result\":" + jsonString(resultName(summary.result));
  json += ",\"exit_code\":" + std::to_string(summary.exitCode);
  json += ",\"port\":" + (summary.port.empty() ? std::string("null") : jsonString(summary.port));
  json += ",\"segments\":" + std::to_string(summary.segments);
  json += ",\"segments_in_image\":" + std::to_string(summary.segmentsInImage);
  json += ",\"bytes\":" + std::to_string(summary.bytes);
  json += ",\"seconds\":" + std::string(seconds);
  json += ",\"failure\":" +
          (summary.failure.empty() ? std::string("null") : jsonString(trimmed(summary.failure)));
  json += ",\"status\":" + jsonString(summary.status);
  json += ",\"failure_kind\":" + textOrNull(summary.failureKind);
  json += ",\"failed_segment\":" +
          (summary.failedSegment < 1 ? std::string("null") : std::to_string(summary.failedSegment));
  char address[16];
  std::snprintf(address, sizeof address, "0x%08X", static_cast<unsigned>(summary.failedAddress));
  json += ",\"failed_address\":" +
          (summary.failedSegment < 1 ? std::string("null") : jsonString(address));
  json += ",\"hint\":" + textOrNull(summary.hint);
  json += ",\"run_folder\":" + textOrNull(summary.runFolder);
  json += ",\"log_record_kept\":" + std::string(!summary.logRecordKept   ? "null"
                                                : *summary.logRecordKept ? "true"
                                                                         : "false");
  if (summary.inStation) {
    json += ",\"slot\":" + textOrNull(summary.slot);
    json += ",\"label\":" + textOrNull(summary.label);
    json += std::string(",\"station_cancelled\":") + (summary.stationCancelled ? "true" : "false");
  }
  return json + "}";
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

}  // namespace voltrix::cli

#include "cli/RunSummary.h"

#include <cstdio>

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

}  // namespace

std::string summaryLine(const RunSummary& summary) {
  const std::string verified =
      plural(summary.segments, "segment") + ", " + std::to_string(summary.bytes) + " bytes";
  switch (summary.result) {
    case RunSummary::Result::Verified:
      return "verified " + verified + ", on " + onPort(summary.port) + " in " +
             secondsText(summary.seconds);
    case RunSummary::Result::Failed:
      return "failed on " + onPort(summary.port) + ": " + trimmed(summary.failure) + " (exit " +
             std::to_string(summary.exitCode) + "), " + std::to_string(summary.segments) + " of " +
             plural(summary.segmentsInImage, "segment") + " verified, " +
             std::to_string(summary.bytes) + " bytes, in " + secondsText(summary.seconds);
    case RunSummary::Result::Refused:
      return "refused: " + trimmed(summary.failure) + " (exit " + std::to_string(summary.exitCode) +
             "), nothing sent";
  }
  return {};
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
  json += ",\"status\":" + jsonString(summary.status) + "}";
  return json;
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

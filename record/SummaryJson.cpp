#include "record/SummaryJson.h"

#include <cstdio>

#include "record/JsonText.h"

namespace voltrix {

namespace {

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

}  // namespace voltrix

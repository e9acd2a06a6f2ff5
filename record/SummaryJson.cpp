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

}  // namespace

std::string summaryJson(const RunSummary& summary) {
  JsonDocument json;
  json["result"] = resultName(summary.result);
  json["exit_code"] = summary.exitCode;
  json["port"] = textOrNull(summary.port);
  json["segments"] = summary.segments;
  json["segments_in_image"] = summary.segmentsInImage;
  json["bytes"] = summary.bytes;
  json["seconds"] = summary.seconds;
  json["failure"] =
      summary.failure.empty() ? JsonDocument() : JsonDocument(withoutPadding(summary.failure));
  json["status"] = summary.status;
  json["failure_kind"] = textOrNull(summary.failureKind);
  const bool inSegment = summary.failedSegment >= 1;
  json["failed_segment"] = inSegment ? JsonDocument(summary.failedSegment) : JsonDocument();
  char address[16];
  std::snprintf(address, sizeof address, "0x%08X", static_cast<unsigned>(summary.failedAddress));
  json["failed_address"] = inSegment ? JsonDocument(address) : JsonDocument();
  json["hint"] = textOrNull(summary.hint);
  json["run_folder"] = textOrNull(summary.runFolder);
  json["log_record_kept"] =
      summary.logRecordKept ? JsonDocument(*summary.logRecordKept) : JsonDocument();
  if (summary.inStation) {
    json["slot"] = textOrNull(summary.slot);
    json["label"] = textOrNull(summary.label);
    json["station_cancelled"] = summary.stationCancelled;
  }
  return jsonLine(json);
}

}  // namespace voltrix

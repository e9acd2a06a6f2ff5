#pragma once
// What the line's dashboard and API read from the database: the newest
// runs, the yield per station, image and hour, and the latest failures.
// Each answer is JSON, ready to send.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include "line/LineDb.h"
#include "record/JsonText.h"

namespace voltrix {

using LineTime = std::chrono::system_clock::time_point;

// A UTC time as the API takes it: "2026-12-09", "2026-12-09T06:00Z",
// "2026-12-09T06:00:30Z", "2026-12-09T06:00:30.250Z" (the Z may be left
// out). Empty for anything else, or a day the month lacks.
std::optional<LineTime> parseLineTime(const std::string& text);

class LineQueries {
 public:
  explicit LineQueries(LineDb& db) : db_(db) {}

  // The newest runs (that ended at or after `since`), newest first: each
  // the record as the station wrote it, with the station's name and when
  // the line received it.
  std::optional<JsonDocument> recentRuns(std::size_t limit, std::optional<LineTime> since,
                                         LineDbError& error);
  // Per station, image and hour of the last 24 h: {"station", "image_sha256",
  // "hour", "verified", "failed"}, oldest hour first.
  std::optional<JsonDocument> yieldByHour(LineDbError& error);
  // The latest failed runs, newest first: their id, station, slot, end
  // time, exit code, failure kind and result text.
  std::optional<JsonDocument> latestFailures(std::size_t limit, LineDbError& error);

 private:
  LineDb& db_;
};

}  // namespace voltrix

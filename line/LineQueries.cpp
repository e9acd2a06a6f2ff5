#include "line/LineQueries.h"

#include <charconv>

#include "line/PgSession.h"

namespace voltrix {

namespace {

// A time column as the records write theirs.
#define LINE_UTC(column) \
  "to_char(" column " AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')"

std::optional<int> digitsAt(const std::string& text, std::size_t at, std::size_t length) {
  if (at + length > text.size()) return std::nullopt;
  int value = 0;
  const char* begin = text.data() + at;
  const auto [end, problem] = std::from_chars(begin, begin + length, value);
  if (problem != std::errc() || end != begin + length) return std::nullopt;
  for (const char* c = begin; c != end; ++c) {
    if (*c < '0' || *c > '9') return std::nullopt;
  }
  return value;
}

std::string microseconds(LineTime time) {
  return std::to_string(
      std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count());
}

JsonDocument textOrNullAt(const PGresult* rows, int row, int column) {
  if (PQgetisnull(rows, row, column)) return nullptr;
  return PQgetvalue(rows, row, column);
}

JsonDocument numberAt(const PGresult* rows, int row, int column) {
  if (PQgetisnull(rows, row, column)) return nullptr;
  return std::stoll(PQgetvalue(rows, row, column));
}

}  // namespace

std::optional<LineTime> parseLineTime(const std::string& text) {
  using namespace std::chrono;
  std::string rest = text;
  if (!rest.empty() && rest.back() == 'Z') rest.pop_back();
  const auto y = digitsAt(rest, 0, 4), m = digitsAt(rest, 5, 2), d = digitsAt(rest, 8, 2);
  if (rest.size() < 10 || !y || !m || !d || rest[4] != '-' || rest[7] != '-') return std::nullopt;
  const year_month_day date{year{*y}, month{static_cast<unsigned>(*m)},
                            day{static_cast<unsigned>(*d)}};
  if (!date.ok()) return std::nullopt;
  LineTime time = sys_days{date};
  if (rest.size() == 10) return time;
  const auto hour = digitsAt(rest, 11, 2), minute = digitsAt(rest, 14, 2);
  if ((rest[10] != 'T' && rest[10] != ' ') || !hour || !minute || rest[13] != ':' || *hour > 23 ||
      *minute > 59) {
    return std::nullopt;
  }
  time += hours(*hour) + minutes(*minute);
  if (rest.size() == 16) return time;
  const auto second = digitsAt(rest, 17, 2);
  if (rest[16] != ':' || !second || *second > 59) return std::nullopt;
  time += seconds(*second);
  if (rest.size() == 19) return time;
  // A fraction of a second, to the microsecond.
  if (rest[19] != '.' || rest.size() == 20 || rest.size() > 26) return std::nullopt;
  const std::string fraction = rest.substr(20) + std::string(26 - rest.size(), '0');
  const auto micros = digitsAt(fraction, 0, 6);
  if (!micros) return std::nullopt;
  return time + std::chrono::microseconds(*micros);
}

std::optional<JsonDocument> LineQueries::recentRuns(std::size_t limit,
                                                    std::optional<LineTime> since,
                                                    LineDbError& error) {
  const PgResult rows = db_.session().run(
      "SELECT record, " LINE_UTC("received_at") " FROM runs "
      "WHERE ($2::bigint IS NULL OR coalesce(\"end\", start) >= "
      "'epoch'::timestamptz + $2::bigint * interval '1 microsecond') "
      "ORDER BY coalesce(\"end\", start) DESC NULLS LAST, seq DESC LIMIT $1::bigint",
      {std::to_string(limit), since ? std::optional(microseconds(*since)) : std::nullopt},
      "cannot read the runs", error);
  if (!rows) return std::nullopt;
  // The record as the station wrote it, and when the line received it.
  JsonDocument runs = JsonDocument::array();
  for (int row = 0; row < PQntuples(rows.get()); ++row) {
    JsonDocument record = JsonDocument::parse(PQgetvalue(rows.get(), row, 0), nullptr, false);
    if (record.is_discarded() || !record.is_object()) continue;
    record["received_at"] = PQgetvalue(rows.get(), row, 1);
    runs.push_back(std::move(record));
  }
  return runs;
}

std::optional<JsonDocument> LineQueries::yieldByHour(LineDbError& error) {
  const PgResult rows = db_.session().run(
      "SELECT coalesce(station, ''), coalesce(image_sha256, ''), "
      LINE_UTC("date_trunc('hour', coalesce(\"end\", start))") ", "
      "count(*) FILTER (WHERE exit_code = 0), "
      "count(*) FILTER (WHERE exit_code IS DISTINCT FROM 0) FROM runs "
      "WHERE coalesce(\"end\", start) >= date_trunc('hour', now()) - interval '23 hours' "
      "GROUP BY 1, 2, 3 ORDER BY 3, 1, 2",
      {}, "cannot read the yield", error);
  if (!rows) return std::nullopt;
  JsonDocument yields = JsonDocument::array();
  for (int row = 0; row < PQntuples(rows.get()); ++row) {
    yields.push_back({{"station", textOrNullAt(rows.get(), row, 0)},
                      {"image_sha256", textOrNullAt(rows.get(), row, 1)},
                      {"hour", textOrNullAt(rows.get(), row, 2)},
                      {"verified", numberAt(rows.get(), row, 3)},
                      {"failed", numberAt(rows.get(), row, 4)}});
  }
  return yields;
}

std::optional<JsonDocument> LineQueries::latestFailures(std::size_t limit, LineDbError& error) {
  const PgResult rows = db_.session().run(
      "SELECT id, station, coalesce(label, slot, port), port, " LINE_UTC("coalesce(\"end\", start)")
      ", exit_code, failure_kind, result, image_sha256 FROM runs "
      "WHERE exit_code IS DISTINCT FROM 0 "
      "ORDER BY coalesce(\"end\", start) DESC NULLS LAST, seq DESC LIMIT $1::bigint",
      {std::to_string(limit)}, "cannot read the failures", error);
  if (!rows) return std::nullopt;
  JsonDocument failures = JsonDocument::array();
  const PGresult* r = rows.get();
  for (int row = 0; row < PQntuples(r); ++row) {
    failures.push_back({{"id", textOrNullAt(r, row, 0)},
                        {"station", textOrNullAt(r, row, 1)},
                        {"slot", textOrNullAt(r, row, 2)},
                        {"port", textOrNullAt(r, row, 3)},
                        {"end", textOrNullAt(r, row, 4)},
                        {"exit_code", numberAt(r, row, 5)},
                        {"failure_kind", textOrNullAt(r, row, 6)},
                        {"result", textOrNullAt(r, row, 7)},
                        {"image_sha256", textOrNullAt(r, row, 8)}});
  }
  return failures;
}

}  // namespace voltrix

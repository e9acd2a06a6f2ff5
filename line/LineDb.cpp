#include "line/LineDb.h"

#include <cstdint>
#include <limits>

#include "line/LineSchema.h"
#include "line/PgSession.h"
#include "record/JsonText.h"
#include "record/RecordColumns.h"

namespace voltrix {

namespace {

// Every opening of the schema takes this lock for its transaction, so that
// two programs starting at once do not both take the same step.
constexpr const char* kMigrationLock = "7436172001";

constexpr int kExportBatch = 500;  // rows fetched at a time, as FETCH says

bool isDigits(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// A time as the records write it (2026-12-09T01:58:44.147Z, any number of
// decimals, or none); anything else is kept only in the record, so that one
// odd record cannot make the server refuse a whole batch.
bool isRecordTime(std::string_view text) {
  if (text.size() < 20 || text.back() != 'Z' || text[4] != '-' || text[7] != '-' ||
      text[10] != 'T' || text[13] != ':' || text[16] != ':') {
    return false;
  }
  // The number at `at`, -1 when it is none.
  const auto number = [&text](std::size_t at, std::size_t length) {
    const std::string_view part = text.substr(at, length);
    return isDigits(part) ? std::stoi(std::string(part)) : -1;
  };
  using namespace std::chrono;
  const int yearNumber = number(0, 4), monthNumber = number(5, 2), dayNumber = number(8, 2);
  if (yearNumber < 1 || monthNumber < 0 || dayNumber < 0) return false;
  // February 31st, say, is refused by the server.
  const year_month_day date{year{yearNumber}, month{static_cast<unsigned>(monthNumber)},
                            day{static_cast<unsigned>(dayNumber)}};
  const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
  if (!date.ok() || hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
      second > 59) {
    return false;
  }
  const std::string_view rest = text.substr(19, text.size() - 20);
  return rest.empty() || (rest.size() >= 2 && rest[0] == '.' && isDigits(rest.substr(1)));
}

// A field of the record as the column's parameter: null when it is
// missing, null or not of the column's kind.
std::optional<std::string> columnValue(const JsonDocument& record, const RecordColumn& column) {
  const JsonDocument* value = recordField(record, column);
  if (value == nullptr) return std::nullopt;
  switch (column.kind) {
    case RecordColumn::Kind::Text:
      if (value->is_string()) return value->get<std::string>();
      return std::nullopt;
    case RecordColumn::Kind::Time:
      if (value->is_string() && isRecordTime(value->get_ref<const std::string&>())) {
        return value->get<std::string>();
      }
      return std::nullopt;
    case RecordColumn::Kind::Integer:
      if (value->is_number_unsigned() &&
          value->get<std::uint64_t>() > std::uint64_t{std::numeric_limits<std::int64_t>::max()}) {
        return std::nullopt;
      }
      if (value->is_number_integer()) return std::to_string(value->get<std::int64_t>());
      return std::nullopt;
    case RecordColumn::Kind::Number:
      if (value->is_number()) return jsonLine(*value);
      return std::nullopt;
  }
  return std::nullopt;
}

std::optional<std::string> microsecondsSinceEpoch(
    const std::optional<std::chrono::system_clock::time_point>& time) {
  if (!time) return std::nullopt;
  using std::chrono::microseconds;
  return std::to_string(std::chrono::duration_cast<microseconds>(time->time_since_epoch()).count());
}

}  // namespace

LineDb::LineDb(std::unique_ptr<PgSession> session) : session_(std::move(session)) {}

LineDb::~LineDb() = default;

int LineDb::latestSchemaVersion() {
  return static_cast<int>(lineMigrations().size());
}

std::unique_ptr<LineDb> LineDb::open(const std::string& conninfo, LineDbError& error) {
  auto session = PgSession::connect(conninfo, error);
  if (!session) return nullptr;
  auto db = std::make_unique<LineDb>(std::move(session));
  if (!db->migrate(error)) return nullptr;
  return db;
}

bool LineDb::migrate(LineDbError& error) {
  if (!session_->begin("BEGIN", error)) return false;
  const auto fail = [this] {
    session_->rollback();
    return false;
  };
  if (!session_->run("SELECT pg_advisory_xact_lock($1::bigint)", {kMigrationLock},
                     "cannot lock the schema", error) ||
      !session_->runScript("CREATE TABLE IF NOT EXISTS migrations("
                           "version integer PRIMARY KEY, applied_at timestamptz NOT NULL)",
                           "cannot make the table of migrations", error)) {
    return fail();
  }
  const PgResult current = session_->run("SELECT coalesce(max(version), 0) FROM migrations", {},
                                         "cannot read the schema's version", error);
  if (!current) return fail();
  schemaVersion_ = std::stoi(PQgetvalue(current.get(), 0, 0));
  const int latest = latestSchemaVersion();
  if (schemaVersion_ > latest) {
    error.kind = LineDbFailure::Newer;
    error.text = "the line's database has schema version " + std::to_string(schemaVersion_) +
                 ", made by a newer voltrix (this one knows up to " + std::to_string(latest) + ")";
    return fail();
  }
  int version = schemaVersion_;
  while (version < latest) {
    const int step = version + 1;
    const std::string doing = "cannot bring the schema to version " + std::to_string(step);
    if (!session_->runScript(lineMigrations()[step - 1], doing, error) ||
        !session_->run("INSERT INTO migrations(version, applied_at) VALUES($1::integer, now())",
                       {std::to_string(step)}, doing, error)) {
      return fail();
    }
    version = step;
  }
  if (!session_->commit(error)) return false;
  schemaVersion_ = version;
  return true;
}

std::optional<LineInsertCount> LineDb::insertRecords(const std::vector<std::string>& lines,
                                                     LineDbError& error) {
  LineInsertCount count;
  if (lines.empty()) return count;
  if (!session_->begin("BEGIN", error)) return std::nullopt;
  for (const std::string& line : lines) {
    switch (insertRecord(line, error)) {
      case Inserted::Added:
        ++count.added;
        break;
      case Inserted::Known:
        ++count.known;
        break;
      case Inserted::NotARecord:
        ++count.notRecords;
        break;
      case Inserted::Failed:
        session_->rollback();
        return std::nullopt;
    }
  }
  if (!session_->commit(error)) return std::nullopt;
  return count;
}

LineDb::Inserted LineDb::insertRecord(const std::string& line, LineDbError& error) {
  const JsonDocument record = JsonDocument::parse(line, nullptr, false);
  if (record.is_discarded() || !record.is_object()) return Inserted::NotARecord;
  const auto id = record.find("id");
  if (id == record.end() || !id->is_string() || id->get_ref<const std::string&>().empty()) {
    return Inserted::NotARecord;
  }
  const std::string& runId = id->get_ref<const std::string&>();

  PgParams params;
  for (const RecordColumn& column : recordColumns()) params.push_back(columnValue(record, column));
  params.push_back(line);
  const PgResult inserted = session_->run(
      "INSERT INTO runs(id, station, version, start, \"end\", slot, port, usb_vid_pid, "
      "usb_serial, usb_path, image_path, image_sha256, segments, bytes, seconds, result, "
      "exit_code, label, failure_kind, failed_segment, failed_address, hint, run_folder, record) "
      "VALUES($1,$2,$3,$4,$5,$6,$7,$8,$9,$10,$11,$12,$13,$14,$15,$16,$17,$18,$19,$20,$21,$22,"
      "$23,$24) ON CONFLICT (id) DO NOTHING",
      params, "cannot insert the run " + runId, error);
  if (!inserted) return Inserted::Failed;
  if (std::string_view(PQcmdTuples(inserted.get())) == "0") return Inserted::Known;

  const auto field = [&record](std::string_view name) -> std::optional<std::string> {
    for (const RecordColumn& column : recordColumns()) {
      if (name == column.name) return columnValue(record, column);
    }
    return std::nullopt;
  };
  const std::optional<std::string> station = field("station");
  if (!station) return Inserted::Added;
  if (!session_->run("INSERT INTO stations(name, version) VALUES($1, $2) ON CONFLICT (name) DO "
                     "UPDATE SET version = coalesce(excluded.version, stations.version), "
                     "last_seen_at = now()",
                     {station, field("version")}, "cannot note the station " + *station, error)) {
    return Inserted::Failed;
  }
  // The slot's last state: a record that arrives late (a station catching
  // up) does not overwrite a newer one.
  std::optional<std::string> slot = field("slot");
  if (!slot) slot = field("port");
  if (!slot) return Inserted::Added;
  std::optional<std::string> ended = field("end");
  if (!ended) ended = field("start");
  const std::optional<std::string> state = field("exit_code") == "0" ? "verified" : "failed";
  if (!session_->run(
          "INSERT INTO slots(station, slot, label, port, state, last_result, last_run_id, "
          "updated_at) VALUES($1,$2,$3,$4,$5,$6,$7,$8) ON CONFLICT (station, slot) DO UPDATE "
          "SET label = excluded.label, port = excluded.port, state = excluded.state, "
          "last_result = excluded.last_result, last_run_id = excluded.last_run_id, "
          "updated_at = excluded.updated_at "
          "WHERE slots.updated_at IS NULL OR excluded.updated_at >= slots.updated_at",
          {station, slot, field("label"), field("port"), state, field("result"), runId, ended},
          "cannot update the slot " + *slot, error)) {
    return Inserted::Failed;
  }
  return Inserted::Added;
}

bool LineDb::recordTokens(const std::vector<LineToken>& tokens, LineDbError& error) {
  if (!session_->begin("BEGIN", error)) return false;
  std::string kept = "{";
  for (const LineToken& token : tokens) {
    if (!session_->run("INSERT INTO tokens(token_sha256, role, name) VALUES($1, $2, $3) "
                       "ON CONFLICT (token_sha256) DO UPDATE SET role = excluded.role, "
                       "name = excluded.name, revoked_at = NULL",
                       {token.sha256, token.role, token.name}, "cannot note a token's role",
                       error)) {
      session_->rollback();
      return false;
    }
    // Hex digests need no quoting inside an array literal.
    kept += (kept.size() > 1 ? "," : "") + token.sha256;
  }
  kept += "}";
  if (!session_->run("UPDATE tokens SET revoked_at = now() "
                     "WHERE revoked_at IS NULL AND NOT (token_sha256 = ANY($1::text[]))",
                     {kept}, "cannot revoke the tokens no longer given", error)) {
    session_->rollback();
    return false;
  }
  return session_->commit(error);
}

bool LineDb::exportRuns(const LineExportRange& range, LineExportFormat format,
                        const ExportSink& sink, LineDbError& error) {
  // One snapshot for the whole export, read through a cursor so that a long
  // range is never held in memory at once.
  if (!session_->begin("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", error)) return false;
  const auto fail = [this] {
    session_->rollback();
    return false;
  };
  // A sink that stopped is no failure: the export ends there.
  const auto stopped = [this] {
    session_->rollback();
    return true;
  };
  if (!session_->run("DECLARE line_export NO SCROLL CURSOR FOR SELECT record FROM runs "
                     "WHERE ($1::bigint IS NULL OR coalesce(\"end\", start) >= "
                     "'epoch'::timestamptz + $1::bigint * interval '1 microsecond') "
                     "AND ($2::bigint IS NULL OR coalesce(\"end\", start) < "
                     "'epoch'::timestamptz + $2::bigint * interval '1 microsecond') "
                     "ORDER BY coalesce(\"end\", start), seq",
                     {microsecondsSinceEpoch(range.from), microsecondsSinceEpoch(range.to)},
                     "cannot read the runs", error)) {
    return fail();
  }
  if (format == LineExportFormat::Csv && !sink(recordCsvHeader() + "\n")) return stopped();
  for (;;) {
    const PgResult rows =
        session_->run("FETCH FORWARD 500 FROM line_export", {}, "cannot read the runs", error);
    if (!rows) return fail();
    const int count = PQntuples(rows.get());
    std::string piece;
    for (int row = 0; row < count; ++row) {
      const char* stored = PQgetvalue(rows.get(), row, 0);
      if (format == LineExportFormat::Jsonl) {
        piece.append(stored).push_back('\n');
        continue;
      }
      const JsonDocument record = JsonDocument::parse(stored, nullptr, false);
      if (record.is_discarded() || !record.is_object()) continue;
      piece.append(recordCsvRow(record)).push_back('\n');
    }
    if (!piece.empty() && !sink(piece)) return stopped();
    if (count < kExportBatch) break;
  }
  return session_->commit(error);
}

}  // namespace voltrix

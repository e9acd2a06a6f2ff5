#include "record/ResultsDb.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <limits>
#include <thread>

#include "record/JsonText.h"
#include "record/RecordColumns.h"
#include "record/SqliteStatement.h"
#include "record/TraceLog.h"

namespace voltrix {

namespace {

// The schema, one numbered step after the other; a database remembers in
// `migrations` which steps it has taken. A step is never changed once
// released: a change of the schema is a new step.
constexpr const char* kMigrations[] = {
    // 1: the runs, the slots' last state, the control audit, the logs read.
    R"sql(
CREATE TABLE runs(
  id TEXT PRIMARY KEY NOT NULL, station TEXT, version TEXT, start TEXT, "end" TEXT,
  slot TEXT, port TEXT, usb_vid_pid TEXT, usb_serial TEXT, usb_path TEXT,
  image_path TEXT, image_sha256 TEXT, segments INTEGER, bytes INTEGER, seconds REAL,
  result TEXT, exit_code INTEGER, label TEXT, failure_kind TEXT, failed_segment INTEGER,
  failed_address TEXT, hint TEXT, run_folder TEXT, record TEXT NOT NULL);
CREATE INDEX runs_by_end ON runs(coalesce("end", start));
CREATE TABLE slots(
  slot TEXT PRIMARY KEY NOT NULL, label TEXT, port TEXT, state TEXT, last_result TEXT,
  last_run_id TEXT, updated_at TEXT);
CREATE TABLE control_audit(
  id INTEGER PRIMARY KEY AUTOINCREMENT, at TEXT NOT NULL, role TEXT, who TEXT,
  action TEXT NOT NULL, remote_address TEXT, result TEXT);
CREATE TABLE log_progress(
  log_path TEXT PRIMARY KEY NOT NULL, device INTEGER NOT NULL, inode INTEGER NOT NULL,
  "offset" INTEGER NOT NULL, skipped_lines INTEGER NOT NULL, updated_at TEXT);
)sql",
};

constexpr int kLatestVersion = static_cast<int>(std::size(kMigrations));

// Waits for another connection's lock a few milliseconds at a time, up to
// the busy timeout, and not at all once the owner gives up.
int waitForLock(void* context, int tries) {
  const auto& options = *static_cast<const ResultsDb::Options*>(context);
  constexpr auto kStep = std::chrono::milliseconds(10);
  if (options.giveUp && options.giveUp()) return 0;
  if (kStep * tries >= options.busyTimeout) return 0;
  std::this_thread::sleep_for(kStep);
  return 1;
}

std::optional<std::string> textField(const JsonDocument& json, const char* key) {
  const auto found = json.find(key);
  if (found == json.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

std::optional<std::int64_t> integerField(const JsonDocument& json, const char* key) {
  const auto found = json.find(key);
  if (found == json.end() || !found->is_number_integer()) return std::nullopt;
  return found->get<std::int64_t>();
}

// A field bound as its column's kind; a value of another type is null, as
// a missing one is.
void bindColumn(SqliteStatement& statement, int index, const JsonDocument& record,
                const RecordColumn& column) {
  const JsonDocument* value = recordField(record, column);
  switch (column.kind) {
    case RecordColumn::Kind::Text:
    case RecordColumn::Kind::Time:
      statement.bind(index, value != nullptr && value->is_string()
                                ? std::optional<std::string>(value->get<std::string>())
                                : std::nullopt);
      return;
    case RecordColumn::Kind::Integer:
      // A count beyond what a signed 64-bit column holds is kept in the
      // record only, rather than wrapped to a negative number.
      if (value == nullptr || !value->is_number_integer() ||
          (value->is_number_unsigned() &&
           value->get<std::uint64_t>() > std::uint64_t{std::numeric_limits<std::int64_t>::max()})) {
        statement.bind(index, std::optional<std::int64_t>());
      } else {
        statement.bind(index, std::optional<std::int64_t>(value->get<std::int64_t>()));
      }
      return;
    case RecordColumn::Kind::Number:
      statement.bind(index, value != nullptr && value->is_number()
                                ? std::optional<double>(value->get<double>())
                                : std::nullopt);
      return;
  }
}

}  // namespace

int ResultsDb::latestSchemaVersion() {
  return kLatestVersion;
}

const char* resultsDbFailureName(ResultsDbFailure kind) {
  switch (kind) {
    case ResultsDbFailure::None:
      return "no failure";
    case ResultsDbFailure::CannotOpen:
      return "cannot open";
    case ResultsDbFailure::Locked:
      return "locked";
    case ResultsDbFailure::ReadOnly:
      return "read-only";
    case ResultsDbFailure::Corrupt:
      return "corrupt";
    case ResultsDbFailure::Full:
      return "full";
    case ResultsDbFailure::Newer:
      return "newer";
    case ResultsDbFailure::Io:
      return "input/output error";
    case ResultsDbFailure::Other:
      break;
  }
  return "error";
}

ResultsDb::ResultsDb(Key, sqlite3* db, Options options) : db_(db), options_(std::move(options)) {}

ResultsDb::~ResultsDb() {
  sqlite3_close_v2(db_);
}

std::unique_ptr<ResultsDb> ResultsDb::open(const std::string& path, Options options,
                                           ResultsDbError& error) {
  sqlite3* raw = nullptr;
  const int flags =
      (options.readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
      SQLITE_OPEN_NOMUTEX;
  const int code = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  auto db = std::make_unique<ResultsDb>(Key(), raw, std::move(options));
  if (code != SQLITE_OK) {
    setSqliteError(raw, code, "cannot open the database " + path, error);
    return nullptr;
  }
  sqlite3_extended_result_codes(raw, 1);
  sqlite3_busy_handler(raw, waitForLock, &db->options_);
  // The first statement reads the file: a file of garbage shows here.
  if (!db->options_.readOnly) {
    if (!executeSql(raw, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;",
                    "cannot use the database " + path, error)) {
      return nullptr;
    }
  }
  if (!db->migrate(error)) {
    error.text = path + ": " + error.text;
    return nullptr;
  }
  return db;
}

bool ResultsDb::migrate(ResultsDbError& error) {
  if (!options_.readOnly &&
      !executeSql(db_,
                  "CREATE TABLE IF NOT EXISTS migrations("
                  "version INTEGER PRIMARY KEY NOT NULL, applied_at TEXT NOT NULL)",
                  "cannot make the table of migrations", error)) {
    return false;
  }
  {
    SqliteStatement current(db_, "SELECT coalesce(max(version), 0) FROM migrations");
    if (!current) {
      setSqliteError(db_, current.prepareCode(), "cannot read the schema's version", error);
      return false;
    }
    const int code = current.step();
    if (code != SQLITE_ROW) {
      setSqliteError(db_, code, "cannot read the schema's version", error);
      return false;
    }
    schemaVersion_ = static_cast<int>(current.integer(0));
  }
  if (schemaVersion_ > kLatestVersion) {
    error.kind = ResultsDbFailure::Newer;
    error.text = "the database has schema version " + std::to_string(schemaVersion_) +
                 ", made by a newer voltrix (this one knows up to " +
                 std::to_string(kLatestVersion) + ")";
    return false;
  }
  if (options_.readOnly) {
    if (schemaVersion_ == kLatestVersion) return true;
    error.kind = ResultsDbFailure::Other;
    error.text = "the database has no results tables yet";
    return false;
  }
  while (schemaVersion_ < kLatestVersion) {
    const int step = schemaVersion_ + 1;
    if (!begin(error)) return false;
    const std::string doing = "cannot bring the schema to version " + std::to_string(step);
    if (!executeSql(db_, kMigrations[step - 1], doing, error)) {
      rollback();
      return false;
    }
    SqliteStatement note(db_, "INSERT INTO migrations(version, applied_at) VALUES(?, ?)");
    note.bind(1, std::optional<std::int64_t>(step));
    note.bind(2, std::optional<std::string>(utcTimestamp(std::chrono::system_clock::now())));
    if (const int code = note.step(); code != SQLITE_DONE) {
      setSqliteError(db_, code, doing, error);
      rollback();
      return false;
    }
    if (!commit(error)) return false;
    schemaVersion_ = step;
  }
  return true;
}

bool ResultsDb::begin(ResultsDbError& error) {
  // IMMEDIATE takes the write lock at once, so that a locked database shows
  // before any work is done.
  return executeSql(db_, "BEGIN IMMEDIATE", "cannot start a transaction", error);
}

bool ResultsDb::commit(ResultsDbError& error) {
  if (executeSql(db_, "COMMIT", "cannot commit", error)) return true;
  rollback();
  return false;
}

void ResultsDb::rollback() {
  if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

ResultsDb::Insert ResultsDb::insertRecord(const std::string& line, ResultsDbError& error) {
  const JsonDocument json = JsonDocument::parse(line, nullptr, false);
  if (json.is_discarded() || !json.is_object()) return Insert::NotARecord;
  const auto id = textField(json, "id");
  if (!id || id->empty()) return Insert::NotARecord;
  // The columns and their order come from the one table every export of the
  // runs shares; `record` keeps the line as the log holds it.
  static const std::string kInsertRun = [] {
    std::string columns;
    std::string placeholders;
    for (const RecordColumn& column : recordColumns()) {
      columns += std::string(columns.empty() ? "" : ", ") + '"' + column.name + '"';
      placeholders += placeholders.empty() ? "?" : ",?";
    }
    return "INSERT INTO runs(" + columns + ", record) VALUES(" + placeholders +
           ",?) ON CONFLICT(id) DO NOTHING";
  }();
  SqliteStatement insert(db_, kInsertRun.c_str());
  if (!insert) {
    setSqliteError(db_, insert.prepareCode(), "cannot insert a run", error);
    return Insert::Failed;
  }
  int at = 0;
  for (const RecordColumn& column : recordColumns()) bindColumn(insert, ++at, json, column);
  insert.bind(++at, std::optional<std::string>(line));
  if (const int code = insert.step(); code != SQLITE_DONE) {
    setSqliteError(db_, code, "cannot insert the run " + *id, error);
    return Insert::Failed;
  }
  if (sqlite3_changes(db_) == 0) return Insert::Known;

  // The slot's last state: a record read late (caught up from the log) does
  // not overwrite a newer one.
  std::optional<std::string> slot = textField(json, "slot");
  if (!slot) slot = textField(json, "port");
  if (!slot) return Insert::Added;
  const auto exitCode = integerField(json, "exit_code");
  std::optional<std::string> ended = textField(json, "end");
  if (!ended) ended = textField(json, "start");
  SqliteStatement upsert(
      db_,
      "INSERT INTO slots(slot, label, port, state, last_result, last_run_id, updated_at) "
      "VALUES(?,?,?,?,?,?,?) ON CONFLICT(slot) DO UPDATE SET label = excluded.label, "
      "port = excluded.port, state = excluded.state, last_result = excluded.last_result, "
      "last_run_id = excluded.last_run_id, updated_at = excluded.updated_at "
      "WHERE slots.updated_at IS NULL OR coalesce(excluded.updated_at, '') >= slots.updated_at");
  upsert.bind(1, slot);
  upsert.bind(2, textField(json, "label"));
  upsert.bind(3, textField(json, "port"));
  upsert.bind(4, std::optional<std::string>(exitCode == 0 ? "verified" : "failed"));
  upsert.bind(5, textField(json, "result"));
  upsert.bind(6, id);
  upsert.bind(7, ended);
  if (const int code = upsert.step(); code != SQLITE_DONE) {
    setSqliteError(db_, code, "cannot update the slot " + *slot, error);
    return Insert::Failed;
  }
  return Insert::Added;
}

bool ResultsDb::recordControl(const ControlAuditEntry& entry, ResultsDbError& error) {
  SqliteStatement insert(db_,
                         "INSERT INTO control_audit(at, role, who, action, remote_address, result) "
                         "VALUES(?,?,?,?,?,?)");
  const auto orNull = [](const std::string& text) {
    return text.empty() ? std::nullopt : std::optional<std::string>(text);
  };
  insert.bind(1, std::optional<std::string>(utcTimestamp(entry.at)));
  insert.bind(2, orNull(entry.role));
  insert.bind(3, orNull(entry.who));
  insert.bind(4, std::optional<std::string>(entry.action));
  insert.bind(5, orNull(entry.remoteAddress));
  insert.bind(6, orNull(entry.result));
  if (const int code = insert.step(); code != SQLITE_DONE) {
    setSqliteError(db_, code, "cannot record the control request " + entry.action, error);
    return false;
  }
  return true;
}

std::optional<LogProgress> ResultsDb::logProgress(const std::string& logPath,
                                                  ResultsDbError& error) {
  SqliteStatement select(db_,
                         "SELECT device, inode, \"offset\", skipped_lines FROM log_progress "
                         "WHERE log_path = ?");
  select.bind(1, std::optional<std::string>(logPath));
  const int code = select.step();
  if (code == SQLITE_DONE) return std::nullopt;
  if (code != SQLITE_ROW) {
    setSqliteError(db_, code, "cannot read how far the log was read", error);
    return std::nullopt;
  }
  LogProgress progress;
  progress.logPath = logPath;
  progress.device = static_cast<std::uint64_t>(select.integer(0));
  progress.inode = static_cast<std::uint64_t>(select.integer(1));
  progress.offset = static_cast<std::uint64_t>(select.integer(2));
  progress.skippedLines = static_cast<std::uint64_t>(select.integer(3));
  return progress;
}

bool ResultsDb::saveLogProgress(const LogProgress& progress, ResultsDbError& error) {
  SqliteStatement upsert(
      db_,
      "INSERT INTO log_progress(log_path, device, inode, \"offset\", skipped_lines, updated_at) "
      "VALUES(?,?,?,?,?,?) ON CONFLICT(log_path) DO UPDATE SET device = excluded.device, "
      "inode = excluded.inode, \"offset\" = excluded.\"offset\", "
      "skipped_lines = excluded.skipped_lines, updated_at = excluded.updated_at");
  const auto number = [](std::uint64_t value) {
    return std::optional<std::int64_t>(static_cast<std::int64_t>(value));
  };
  upsert.bind(1, std::optional<std::string>(progress.logPath));
  upsert.bind(2, number(progress.device));
  upsert.bind(3, number(progress.inode));
  upsert.bind(4, number(progress.offset));
  upsert.bind(5, number(progress.skippedLines));
  upsert.bind(6, std::optional<std::string>(utcTimestamp(std::chrono::system_clock::now())));
  if (const int code = upsert.step(); code != SQLITE_DONE) {
    setSqliteError(db_, code, "cannot note how far the log was read", error);
    return false;
  }
  return true;
}

std::vector<std::string> ResultsDb::recordsSince(const std::string& sinceUtc,
                                                 ResultsDbError& error) {
  return selectRecords("ORDER BY coalesce(\"end\", start), rowid", sinceUtc, std::nullopt, error);
}

std::vector<std::string> ResultsDb::newestRecords(const std::string& sinceUtc, std::size_t limit,
                                                  ResultsDbError& error) {
  const auto most = static_cast<std::int64_t>(
      std::min<std::size_t>(limit, std::numeric_limits<std::int64_t>::max()));
  return selectRecords("ORDER BY coalesce(\"end\", start) DESC, rowid DESC LIMIT ?2", sinceUtc,
                       most, error);
}

std::vector<std::string> ResultsDb::selectRecords(const char* order, const std::string& sinceUtc,
                                                  std::optional<std::int64_t> limit,
                                                  ResultsDbError& error) {
  const std::string sql =
      std::string("SELECT record FROM runs WHERE coalesce(\"end\", start) >= ?1 ") + order;
  SqliteStatement select(db_, sql.c_str());
  std::vector<std::string> records;
  if (!select) {
    setSqliteError(db_, select.prepareCode(), "cannot read the runs", error);
    return records;
  }
  select.bind(1, std::optional<std::string>(sinceUtc));
  if (limit) select.bind(2, limit);
  int code = SQLITE_ROW;
  while ((code = select.step()) == SQLITE_ROW) records.push_back(select.text(0));
  if (code != SQLITE_DONE) {
    setSqliteError(db_, code, "cannot read the runs", error);
    records.clear();
  }
  return records;
}

std::optional<std::string> ResultsDb::recordById(const std::string& id, ResultsDbError& error) {
  SqliteStatement select(db_, "SELECT record FROM runs WHERE id = ?");
  if (!select) {
    setSqliteError(db_, select.prepareCode(), "cannot read the run " + id, error);
    return std::nullopt;
  }
  select.bind(1, std::optional<std::string>(id));
  const int code = select.step();
  if (code == SQLITE_ROW) return select.text(0);
  if (code != SQLITE_DONE) setSqliteError(db_, code, "cannot read the run " + id, error);
  return std::nullopt;
}

std::vector<StoredControl> ResultsDb::controlAudit(ResultsDbError& error) {
  SqliteStatement select(db_,
                         "SELECT at, role, who, action, remote_address, result FROM control_audit "
                         "ORDER BY id");
  std::vector<StoredControl> entries;
  if (!select) {
    setSqliteError(db_, select.prepareCode(), "cannot read the control audit", error);
    return entries;
  }
  int code = SQLITE_ROW;
  while ((code = select.step()) == SQLITE_ROW) {
    StoredControl entry;
    entry.at = select.text(0);
    entry.role = select.text(1);
    entry.who = select.text(2);
    entry.action = select.text(3);
    entry.remoteAddress = select.text(4);
    entry.result = select.text(5);
    entries.push_back(std::move(entry));
  }
  if (code != SQLITE_DONE) {
    setSqliteError(db_, code, "cannot read the control audit", error);
    entries.clear();
  }
  return entries;
}

std::int64_t ResultsDb::runCount(ResultsDbError& error) {
  SqliteStatement count(db_, "SELECT count(*) FROM runs");
  if (const int code = count.step(); code != SQLITE_ROW) {
    setSqliteError(db_, code, "cannot count the runs", error);
    return -1;
  }
  return count.integer(0);
}

}  // namespace voltrix

#pragma once
// The line's results in PostgreSQL: one row per log record of every
// station in `runs` (keyed by the record's id, so that a record sent twice,
// by a retry or a restart, lands once), the stations and their slots' last
// state, the control audit, the tokens' roles (by hash), and the jobs. The
// schema is made and brought up to date by open(), one numbered step at a
// time, as the station's SQLite database is.
//
// One connection, used by one thread at a time. Errors come back typed.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "line/LineDbError.h"

namespace voltrix {

class PgSession;

// What a batch of log lines did to `runs`.
struct LineInsertCount {
  std::size_t added = 0;       // new rows
  std::size_t known = 0;       // ids already there (or twice in the batch)
  std::size_t notRecords = 0;  // lines that are no record with an id: skipped
};

// A token of the line's token file as the database keeps it: never the
// token itself, only its SHA-256, with its role and whose it is.
struct LineToken {
  std::string sha256;  // lowercase hex
  std::string role;    // viewer, operator, engineer, station, admin
  std::string name;
};

enum class LineExportFormat {
  Csv,    // a header row, then a row per run, `id` first
  Jsonl,  // each run's record as it was received, one per line
};

// The runs that ended (or, for one that never ended, started) in
// [from, to); either bound may be left open.
struct LineExportRange {
  std::optional<std::chrono::system_clock::time_point> from, to;
};

class LineDb {
 public:
  explicit LineDb(std::unique_ptr<PgSession> session);
  ~LineDb();
  LineDb(const LineDb&) = delete;
  LineDb& operator=(const LineDb&) = delete;

  // Connects with `conninfo` (a libpq connection string or URL) and brings
  // the schema to this program's version. Null with `error`.
  static std::unique_ptr<LineDb> open(const std::string& conninfo, LineDbError& error);

  // The log lines in one transaction: each record a row of `runs` unless
  // its id is there already, its station and slot brought up to date.
  // Nothing is kept when it fails.
  std::optional<LineInsertCount> insertRecords(const std::vector<std::string>& lines,
                                               LineDbError& error);

  // Writes the runs of `range`, oldest first, to `sink` a piece at a time;
  // a sink that returns false stops the export (a client that went away).
  // False with `error` when the runs cannot be read.
  using ExportSink = std::function<bool(std::string_view piece)>;
  bool exportRuns(const LineExportRange& range, LineExportFormat format, const ExportSink& sink,
                  LineDbError& error);

  // The connection itself, for the dashboard's queries (LineQueries) and
  // the jobs (LineJobs): they use what this class made, through the same
  // connection, and the same thread rule holds.
  PgSession& session() { return *session_; }

  // Makes `tokens` say who may do what now: each of `tokens` there (its
  // role and name brought up to date, taken back into use if it had been
  // revoked), every other one marked revoked from now. One transaction.
  bool recordTokens(const std::vector<LineToken>& tokens, LineDbError& error);

  int schemaVersion() const { return schemaVersion_; }
  static int latestSchemaVersion();

 private:
  bool migrate(LineDbError& error);
  enum class Inserted { Added, Known, NotARecord, Failed };
  Inserted insertRecord(const std::string& line, LineDbError& error);

  std::unique_ptr<PgSession> session_;
  int schemaVersion_ = 0;
};

}  // namespace voltrix

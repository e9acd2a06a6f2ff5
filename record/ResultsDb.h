#pragma once
// The station's results in an SQLite database: one row per log record in
// `runs` (keyed by the record's id, so that writing a record twice changes
// nothing), each slot's last state in `slots`, the control requests in
// `control_audit`, and how far each log has been read in `log_progress`.
// The JSONL log stays the record of truth; this is an index of it that can
// always be rebuilt from it.
//
// One connection, used by one thread at a time. Errors come back typed, so
// that a caller reports each kind of trouble once.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace voltrix {

// Why the database could not be used; None when it could.
enum class ResultsDbFailure {
  None,
  CannotOpen,  // missing folder, no permission, not a file
  Locked,      // another connection held it past the busy timeout
  ReadOnly,
  Corrupt,  // damaged, or not a database at all
  Full,     // the disk, or a quota
  Newer,    // made by a later version of this program
  Io,
  Other,
};

struct ResultsDbError {
  ResultsDbFailure kind = ResultsDbFailure::None;
  std::string text;  // SQLite's words, with what was being done
};

// One control request on the station (pause, resume, drain, stop).
struct ControlAuditEntry {
  std::chrono::system_clock::time_point at;
  std::string role;  // "operator", "viewer", or empty when unknown
  std::string who;   // the token's holder as the token file names it
  std::string action;
  std::string remoteAddress;
  std::string result;  // "accepted", "refused: ..."
};

// A control request as the database holds it: its time as the records
// write times.
struct StoredControl {
  std::string at, role, who, action, remoteAddress, result;
};

// Where the reading of a log stopped: the bytes before `offset` are whole
// lines already taken. `device` and `inode` tell the same file from one
// that replaced it under the same name.
struct LogProgress {
  std::string logPath;
  std::uint64_t device = 0, inode = 0, offset = 0;
  std::uint64_t skippedLines = 0;  // lines before `offset` that are not records
};

class ResultsDb {
  struct Key {
    explicit Key() = default;
  };

 public:
  struct Options {
    bool readOnly = false;  // for reading results: never creates nor migrates
    // How long a write waits for another connection's lock.
    std::chrono::milliseconds busyTimeout{2000};
    // Asked while waiting for a lock: true ends the wait at once.
    std::function<bool()> giveUp;
  };

  ResultsDb(Key, sqlite3* db, Options options);
  ~ResultsDb();
  ResultsDb(const ResultsDb&) = delete;
  ResultsDb& operator=(const ResultsDb&) = delete;

  // Opens (creating it unless read-only) the database at `path` in WAL mode
  // and brings its tables to this program's version. Null with `error`.
  static std::unique_ptr<ResultsDb> open(const std::string& path, Options options,
                                         ResultsDbError& error);

  bool begin(ResultsDbError& error);
  bool commit(ResultsDbError& error);
  void rollback();

  enum class Insert { Added, Known, NotARecord, Failed };
  // One log line: a row in `runs` unless its id is there already, and the
  // slot's last state when the record is newer than what `slots` holds.
  Insert insertRecord(const std::string& line, ResultsDbError& error);
  bool recordControl(const ControlAuditEntry& entry, ResultsDbError& error);

  // Empty when this log has not been read yet (or on an error, then set).
  std::optional<LogProgress> logProgress(const std::string& logPath, ResultsDbError& error);
  bool saveLogProgress(const LogProgress& progress, ResultsDbError& error);

  // The records (the log's lines, as stored) of the runs that ended at or
  // after `sinceUtc` (a time as the records write it; empty: all), oldest
  // first. Empty with `error` set when they cannot be read.
  std::vector<std::string> recordsSince(const std::string& sinceUtc, ResultsDbError& error);
  // The same, newest first and at most `limit` of them.
  std::vector<std::string> newestRecords(const std::string& sinceUtc, std::size_t limit,
                                         ResultsDbError& error);
  // The record with this id; empty when there is none (or on an error, then set).
  std::optional<std::string> recordById(const std::string& id, ResultsDbError& error);
  // The control requests, oldest first.
  std::vector<StoredControl> controlAudit(ResultsDbError& error);
  std::int64_t runCount(ResultsDbError& error);

  int schemaVersion() const { return schemaVersion_; }
  static int latestSchemaVersion();

 private:
  bool migrate(ResultsDbError& error);
  // The records ended at or after `sinceUtc` (parameter 1), in `order`
  // (which may take `limit` as parameter 2).
  std::vector<std::string> selectRecords(const char* order, const std::string& sinceUtc,
                                         std::optional<std::int64_t> limit, ResultsDbError& error);

  sqlite3* db_;
  Options options_;
  int schemaVersion_ = 0;
};

// "database locked" and the like: a few words for a kind of failure.
const char* resultsDbFailureName(ResultsDbFailure kind);

}  // namespace voltrix

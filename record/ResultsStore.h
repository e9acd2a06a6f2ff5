#pragma once
// The station's results database as the rest of the program sees it,
// whether or not this build has one (VOLTRIX_SERVICE): a feed that takes
// each record after the log kept it and writes it on a thread of its own,
// so that a slow, locked, full or damaged database never holds up a
// flash, and the reading of stored results for a shift.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "record/ResultsDb.h"

namespace voltrix {

// Something the feed has to tell, once it happened.
struct ResultsNotice {
  enum class Kind {
    Behind,        // a write failed: `reason`; the log is read again later
    CaughtUp,      // the database holds the log's records again
    SkippedLines,  // `lines` lines of the log are not records
  } kind = Kind::Behind;
  ResultsDbFailure failure = ResultsDbFailure::None;
  std::string reason;
  // The first time the database fell behind for this kind of failure.
  bool firstOfKind = false;
  std::uint64_t lines = 0;
};

class ResultsFeed {
 public:
  virtual ~ResultsFeed() = default;
  // A record's line as the log holds it (without its line break); `inLog`
  // says whether the log kept it. Never waits for the database.
  virtual void submit(std::string line, bool inLog) = 0;
  // A control request for the audit table; kept until the database takes
  // it (the newest ones, when it never does). Never waits either.
  virtual void submitControl(ControlAuditEntry entry) = 0;
  // Waits at most `limit` for what was submitted to be written, then stops
  // the feed's thread; what is still missing is caught up at the next start.
  virtual void finish(std::chrono::milliseconds limit) = 0;
  // What happened since the last call, oldest first.
  virtual std::vector<ResultsNotice> takeNotices() = 0;
  // "database behind: REASON" while the database lacks records of the log.
  virtual std::optional<std::string> behind() const = 0;
};

// Whether this build keeps results in a database at all.
bool resultsDatabaseBuilt();

// A feed into the database at `dbPath` for the records of the log at
// `logPath`: it catches up with the log at once. Null when this build has
// no database.
std::unique_ptr<ResultsFeed> startResultsFeed(const std::string& dbPath,
                                              const std::string& logPath);

struct StoredRecords {
  bool ok = false;
  std::string error;
  std::vector<std::string> records;  // the log's lines, oldest first
};
// The records of the runs that ended at or after `sinceUtc` (as the records
// write times; empty for all), read without changing the database.
StoredRecords readStoredRecords(const std::string& dbPath, const std::string& sinceUtc);
// The same, newest first, at most `limit`.
StoredRecords readNewestRecords(const std::string& dbPath, const std::string& sinceUtc,
                                std::size_t limit);
// The record with this id: one record, none, or an error.
StoredRecords readStoredRecord(const std::string& dbPath, const std::string& id);

}  // namespace voltrix

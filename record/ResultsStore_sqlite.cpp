#include "record/ResultsStore.h"
#include "record/ResultsWriter.h"

namespace voltrix {

bool resultsDatabaseBuilt() {
  return true;
}

std::unique_ptr<ResultsFeed> startResultsFeed(const std::string& dbPath,
                                              const std::string& logPath) {
  return std::make_unique<ResultsWriter>(dbPath, logPath);
}

namespace {

// Reads with a connection of its own that changes nothing: a reader never
// holds up the writer (the database is in WAL mode).
template <typename Read>
StoredRecords readRecords(const std::string& dbPath, Read read) {
  StoredRecords stored;
  ResultsDbError error;
  ResultsDb::Options options;
  options.readOnly = true;
  const auto db = ResultsDb::open(dbPath, options, error);
  if (db) stored.records = read(*db, error);
  stored.ok = error.kind == ResultsDbFailure::None;
  stored.error = error.text;
  return stored;
}

}  // namespace

StoredRecords readStoredRecords(const std::string& dbPath, const std::string& sinceUtc) {
  return readRecords(dbPath, [&](ResultsDb& db, ResultsDbError& error) {
    return db.recordsSince(sinceUtc, error);
  });
}

StoredRecords readNewestRecords(const std::string& dbPath, const std::string& sinceUtc,
                                std::size_t limit) {
  return readRecords(dbPath, [&](ResultsDb& db, ResultsDbError& error) {
    return db.newestRecords(sinceUtc, limit, error);
  });
}

StoredRecords readStoredRecord(const std::string& dbPath, const std::string& id) {
  return readRecords(dbPath, [&](ResultsDb& db, ResultsDbError& error) {
    std::vector<std::string> found;
    if (auto record = db.recordById(id, error)) found.push_back(std::move(*record));
    return found;
  });
}

}  // namespace voltrix

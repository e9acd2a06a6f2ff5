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

StoredRecords readStoredRecords(const std::string& dbPath, const std::string& sinceUtc) {
  StoredRecords stored;
  ResultsDbError error;
  ResultsDb::Options options;
  options.readOnly = true;
  const auto db = ResultsDb::open(dbPath, options, error);
  if (db) stored.records = db->recordsSince(sinceUtc, error);
  stored.ok = error.kind == ResultsDbFailure::None;
  stored.error = error.text;
  return stored;
}

}  // namespace voltrix

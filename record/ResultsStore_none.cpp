// A build without the results database (VOLTRIX_SERVICE off): the command
// line refuses --db and --runs before anything here is asked.
#include "record/ResultsStore.h"

namespace voltrix {

bool resultsDatabaseBuilt() {
  return false;
}

std::unique_ptr<ResultsFeed> startResultsFeed(const std::string&, const std::string&) {
  return nullptr;
}

namespace {

StoredRecords noDatabase() {
  StoredRecords none;
  none.error = "this build of voltrix-cli keeps no results database";
  return none;
}

}  // namespace

StoredRecords readStoredRecords(const std::string&, const std::string&) {
  return noDatabase();
}

StoredRecords readNewestRecords(const std::string&, const std::string&, std::size_t) {
  return noDatabase();
}

StoredRecords readStoredRecord(const std::string&, const std::string&) {
  return noDatabase();
}

}  // namespace voltrix

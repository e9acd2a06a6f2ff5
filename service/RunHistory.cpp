#include "service/RunHistory.h"

#include <algorithm>
#include <set>

#include "record/ResultsStore.h"

namespace voltrix::service {

namespace {

// When a run ended, as its record writes it; UTC times of one format
// compare as texts.
std::string endOf(const JsonDocument& record) {
  for (const char* key : {"end", "start"}) {
    const auto found = record.find(key);
    if (found != record.end() && found->is_string()) return found->get<std::string>();
  }
  return {};
}

std::string idOf(const JsonDocument& record) {
  const auto found = record.find("id");
  return found != record.end() && found->is_string() ? found->get<std::string>() : std::string();
}

}  // namespace

std::vector<JsonDocument> MemoryRunHistory::recent(const std::string& since,
                                                   std::size_t limit) const {
  std::vector<JsonDocument> found;
  const std::lock_guard lock(mutex_);
  for (auto record = records_.rbegin(); record != records_.rend() && found.size() < limit;
       ++record) {
    const JsonDocument& end = (*record)["end"];
    // UTC times of one format compare as texts.
    if (!since.empty() && (!end.is_string() || end.get<std::string>() < since)) continue;
    found.push_back(*record);
  }
  return found;
}

std::optional<JsonDocument> MemoryRunHistory::byId(const std::string& id) const {
  const std::lock_guard lock(mutex_);
  for (const JsonDocument& record : records_) {
    if (record["id"] == id) return record;
  }
  return std::nullopt;
}

void MemoryRunHistory::runFinished(const RunFinished& event) {
  JsonDocument record = JsonDocument::parse(event.record, nullptr, false);
  if (record.is_discarded() || !record.is_object()) return;
  const std::lock_guard lock(mutex_);
  records_.push_back(std::move(record));
  while (records_.size() > capacity_) records_.pop_front();
}

std::vector<JsonDocument> StoredRunHistory::recent(const std::string& since,
                                                   std::size_t limit) const {
  std::vector<JsonDocument> found = ownRuns_.recent(since, limit);
  std::set<std::string> ids;
  for (const JsonDocument& record : found) ids.insert(idOf(record));
  for (const std::string& line : readNewestRecords(dbPath_, since, limit).records) {
    JsonDocument record = JsonDocument::parse(line, nullptr, false);
    if (!record.is_object() || !ids.insert(idOf(record)).second) continue;
    found.push_back(std::move(record));
  }
  std::stable_sort(found.begin(), found.end(), [](const JsonDocument& a, const JsonDocument& b) {
    return endOf(a) > endOf(b);
  });
  if (found.size() > limit) found.resize(limit);
  return found;
}

std::optional<JsonDocument> StoredRunHistory::byId(const std::string& id) const {
  if (auto own = ownRuns_.byId(id)) return own;
  const StoredRecords stored = readStoredRecord(dbPath_, id);
  if (stored.records.empty()) return std::nullopt;
  JsonDocument record = JsonDocument::parse(stored.records.front(), nullptr, false);
  if (!record.is_object()) return std::nullopt;
  return record;
}

}  // namespace voltrix::service

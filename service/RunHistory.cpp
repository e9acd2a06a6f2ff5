#include "service/RunHistory.h"

namespace voltrix::service {

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

}  // namespace voltrix::service

#pragma once
// The runs a service shows: log records (the JSON objects of the log's
// lines), looked up by time or by id. The in-memory history keeps the
// newest records of this process, fed by the station's finished runs; the
// stored history adds those of the results database, earlier shifts too.

#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "record/JsonText.h"
#include "station/StationObserver.h"

namespace voltrix::service {

class RunHistory {
 public:
  virtual ~RunHistory() = default;
  // Records that ended at or after `since` (a UTC time as the records write
  // it, or a prefix of one such as "2026-12-09"; empty for all), newest
  // first, at most `limit`.
  virtual std::vector<JsonDocument> recent(const std::string& since, std::size_t limit) const = 0;
  virtual std::optional<JsonDocument> byId(const std::string& id) const = 0;
};

class MemoryRunHistory final : public RunHistory, public StationObserver {
 public:
  explicit MemoryRunHistory(std::size_t capacity = 10000) : capacity_(capacity) {}

  std::vector<JsonDocument> recent(const std::string& since, std::size_t limit) const override;
  std::optional<JsonDocument> byId(const std::string& id) const override;
  void runFinished(const RunFinished& event) override;

 private:
  std::size_t capacity_;
  mutable std::mutex mutex_;
  std::deque<JsonDocument> records_;  // oldest first
};

// The results database's runs with this process's own in front of them: a
// record the database has not taken yet (it is behind) still shows, and a
// database that cannot be read leaves this process's runs.
class StoredRunHistory final : public RunHistory {
 public:
  StoredRunHistory(std::string dbPath, const MemoryRunHistory& ownRuns)
      : dbPath_(std::move(dbPath)), ownRuns_(ownRuns) {}

  std::vector<JsonDocument> recent(const std::string& since, std::size_t limit) const override;
  std::optional<JsonDocument> byId(const std::string& id) const override;

 private:
  const std::string dbPath_;
  const MemoryRunHistory& ownRuns_;
};

}  // namespace voltrix::service

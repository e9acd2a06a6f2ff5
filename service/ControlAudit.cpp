#include "service/ControlAudit.h"

namespace voltrix::service {

namespace {

// Requests come from outside: the newest this many are kept.
constexpr std::size_t kKeptEntries = 10000;

}  // namespace

void MemoryControlAudit::record(const ControlAuditEntry& entry) {
  const std::lock_guard lock(mutex_);
  if (entries_.size() == kKeptEntries) entries_.pop_front();
  entries_.push_back(entry);
}

std::vector<ControlAuditEntry> MemoryControlAudit::entries() const {
  const std::lock_guard lock(mutex_);
  return {entries_.begin(), entries_.end()};
}

}  // namespace voltrix::service

#include "service/ControlAudit.h"

namespace voltrix::service {

void MemoryControlAudit::record(const ControlEntry& entry) {
  const std::lock_guard lock(mutex_);
  entries_.push_back(entry);
}

std::vector<ControlEntry> MemoryControlAudit::entries() const {
  const std::lock_guard lock(mutex_);
  return entries_;
}

}  // namespace voltrix::service

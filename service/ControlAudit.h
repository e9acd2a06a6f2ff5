#pragma once
// Who asked the station to pause, resume, drain or stop, from where, when,
// and what came of it: every control request is kept, refused ones too.

#include <deque>
#include <mutex>
#include <vector>

#include "record/ResultsDb.h"

namespace voltrix::service {

// An entry's role is "operator", "viewer", or "none" without a known token;
// its result "accepted" or "refused: WHY" (with the HTTP status).
class ControlAudit {
 public:
  virtual ~ControlAudit() = default;
  // Called before the request takes effect.
  virtual void record(const ControlAuditEntry& entry) = 0;
};

class MemoryControlAudit final : public ControlAudit {
 public:
  void record(const ControlAuditEntry& entry) override;
  std::vector<ControlAuditEntry> entries() const;

 private:
  mutable std::mutex mutex_;
  std::deque<ControlAuditEntry> entries_;
};

}  // namespace voltrix::service

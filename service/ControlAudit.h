#pragma once
// Who asked the station to pause, resume, drain or stop, from where, when,
// and what came of it: every control request is kept, refused ones too.

#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace voltrix::service {

struct ControlEntry {
  std::string role;    // "operator", "viewer", or "none" without a known token
  std::string action;  // "pause", "resume", "drain", "stop"
  std::string remote;  // the client's address
  std::chrono::system_clock::time_point at;
  int status = 0;  // the HTTP status answered
};

class ControlAudit {
 public:
  virtual ~ControlAudit() = default;
  virtual void record(const ControlEntry& entry) = 0;
};

class MemoryControlAudit final : public ControlAudit {
 public:
  void record(const ControlEntry& entry) override;
  std::vector<ControlEntry> entries() const;

 private:
  mutable std::mutex mutex_;
  std::deque<ControlEntry> entries_;
};

}  // namespace voltrix::service

#pragma once
// The station follows the line's current job (voltrix-cli --line with
// --trust-key): a thread of its own asks the line for it at the start and
// every few seconds, and fetches the image of a job it does not have yet.
// What the job is worth is the hooks' to judge: they check it and swap it
// in between devices, so flashing never waits for the line. A job the
// hooks refused is not fetched again; a new one (another id or image) is.
// A failed request is tried again later, less often the longer it fails.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "uplink/LineClient.h"

namespace voltrix::uplink {

struct JobFollowerHooks {
  // Whether the job the line names (the body of GET /api/job) is to be
  // fetched: false when it is the one in use (whose quota the hook takes
  // then) or when it cannot be read.
  std::function<bool(const std::string& job)> wants;
  // The job and its fetched bytes: true when it is in use now.
  std::function<bool(const std::string& job, const std::string& image)> offer;
};

struct JobFollowerSettings {
  LineClientSettings line;
  std::chrono::milliseconds period{3000};
  std::chrono::milliseconds firstRetry{500};  // after a failed request; doubles
  std::chrono::milliseconds longestRetry{30000};
};

class JobFollower {
 public:
  JobFollower(JobFollowerSettings settings, JobFollowerHooks hooks);
  ~JobFollower();
  JobFollower(const JobFollower&) = delete;
  JobFollower& operator=(const JobFollower&) = delete;

  // The last request's failure, for a person; empty once one succeeded.
  std::string lastError() const;

 private:
  using Clock = std::chrono::steady_clock;
  void work();
  // One look at the line's job; false when a request failed.
  bool look();

  const JobFollowerSettings settings_;
  const JobFollowerHooks hooks_;
  LineClient client_;    // the thread's only
  std::string refused_;  // "ID sha256" of the job the hooks refused last
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::string lastError_;
  std::thread thread_;  // last: it starts once everything above exists
};

}  // namespace voltrix::uplink

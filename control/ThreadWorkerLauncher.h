#pragma once
// Starts each download worker on a thread of its own and keeps the thread
// until it has ended. Destruction waits for workers still running: whoever
// owns the launcher raises the run's cancel flag first, and every wait of a
// run is bounded, so that wait is short.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "control/WorkerLauncher.h"

namespace voltrix {

class ThreadWorkerLauncher final : public WorkerLauncher {
 public:
  ThreadWorkerLauncher() = default;
  ~ThreadWorkerLauncher() override;
  ThreadWorkerLauncher(const ThreadWorkerLauncher&) = delete;
  ThreadWorkerLauncher& operator=(const ThreadWorkerLauncher&) = delete;

  bool launch(std::function<void()> work) override;
  // Waits for every worker started so far.
  void joinAll();
  // Whether a worker is still running.
  bool running() const;

 private:
  struct Worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> finished;
  };
  void reapFinished();

  mutable std::mutex mutex_;
  std::vector<Worker> workers_;
};

}  // namespace voltrix

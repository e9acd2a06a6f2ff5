#include "control/ThreadWorkerLauncher.h"

#include <system_error>

namespace voltrix {

ThreadWorkerLauncher::~ThreadWorkerLauncher() {
  joinAll();
}

bool ThreadWorkerLauncher::launch(std::function<void()> work) {
  std::lock_guard lock(mutex_);
  reapFinished();
  auto finished = std::make_shared<std::atomic<bool>>(false);
  try {
    std::thread thread([work = std::move(work), finished] {
      work();
      *finished = true;
    });
    workers_.push_back({std::move(thread), finished});
  } catch (const std::system_error&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void ThreadWorkerLauncher::joinAll() {
  std::vector<Worker> workers;
  {
    std::lock_guard lock(mutex_);
    workers.swap(workers_);
  }
  for (Worker& worker : workers) {
    if (worker.thread.joinable()) worker.thread.join();
  }
}

bool ThreadWorkerLauncher::running() const {
  std::lock_guard lock(mutex_);
  for (const Worker& worker : workers_) {
    if (!*worker.finished) return true;
  }
  return false;
}

void ThreadWorkerLauncher::reapFinished() {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (*it->finished) {
      it->thread.join();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace voltrix

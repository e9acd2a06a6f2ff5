#pragma once
// Starts a download worker on a thread of its own. The program starts real
// threads (ThreadWorkerLauncher); a test may hold the work and run it when
// it likes.

#include <functional>

namespace voltrix {

class WorkerLauncher {
 public:
  virtual ~WorkerLauncher() = default;
  // False when the worker cannot be started.
  virtual bool launch(std::function<void()> work) = 0;
};

}  // namespace voltrix

#pragma once
// voltrix-line run as a child process for a test: started with the given
// options, its address read from the line it prints once serving, and
// ended with SIGTERM as a service manager ends it.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Process_posix.h"

namespace voltrix::test {

class RunningLine {
 public:
  explicit RunningLine(std::vector<std::string> options);
  ~RunningLine();
  RunningLine(const RunningLine&) = delete;
  RunningLine& operator=(const RunningLine&) = delete;

  // "http://127.0.0.1:PORT" once it serves; empty when it ended first or
  // did not say so within a minute (what it printed is in output()).
  std::string url();
  std::string output();
  // Sends SIGTERM and waits for the end.
  ProcessResult stop();

 private:
  std::thread thread_;
  std::atomic<pid_t> pid_{0};
  std::mutex mutex_;
  std::condition_variable printed_;
  std::string output_;
  bool ended_ = false;
  ProcessResult result_;
};

}  // namespace voltrix::test

#pragma once
// Runs a program of ours as a child process and collects what it printed.

#include <chrono>
#include <string>
#include <vector>

namespace voltrix::test {

struct ProcessResult {
  int exitCode = -1;  // -1 when it did not exit normally or timed out
  bool timedOut = false;
  std::string out;  // standard output and standard error, interleaved
};

// Runs argv with the given extra environment ("NAME=value"), killing it when
// it outlives `limit`.
ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment = {},
                         std::chrono::milliseconds limit = std::chrono::seconds(60));

}  // namespace voltrix::test

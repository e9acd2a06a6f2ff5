#pragma once
// Runs a program of ours as a child process and collects what it printed.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace voltrix::test {

struct ProcessResult {
  int exitCode = -1;  // -1 when it did not exit normally or timed out
  bool timedOut = false;
  std::string out;  // standard output and standard error, interleaved
  // With ChildStreams::separateError: `out` holds standard output alone and
  // this standard error.
  std::string err;
};

// How the child's standard streams are set up.
struct ChildStreams {
  // Started with standard input, output and error closed, as a daemon is.
  bool closed = false;
  // Our end of its output is closed once this many bytes came (0: never), as
  // `| head -c N` does.
  std::size_t readAtMost = 0;
  // Where the child's process id goes once it runs (for a test that signals
  // a child that prints nothing).
  std::atomic<pid_t>* pid = nullptr;
  // Standard error is collected apart from standard output.
  bool separateError = false;
  // The child's working directory; empty: the test process's own, which
  // tests leave alone (tests of a program give it their temporary folder).
  std::string workingDirectory{};
};

// Runs argv with the given extra environment ("NAME=value"), killing it when
// it outlives `limit`.
// `onOutput`, when given, sees the child's pid and everything printed so far
// (on both streams) after each new piece of output (a test may signal the
// child from there).
ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment = {},
                         std::chrono::milliseconds limit = std::chrono::seconds(60),
                         const std::function<void(pid_t, const std::string&)>& onOutput = {},
                         ChildStreams streams = {});

// runProcess with `folder` as the child's working directory.
ProcessResult runProcessIn(const std::string& folder, const std::vector<std::string>& argv,
                           const std::vector<std::string>& environment = {},
                           std::chrono::milliseconds limit = std::chrono::seconds(60));

}  // namespace voltrix::test

#pragma once
// The line load benchmark's measuring: a free port and the wait for the line
// to listen on it, the line's and the database server's CPU and memory
// sampled from /proc, and the printed figures.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "record/JsonText.h"

namespace voltrix::bench {

// A TCP port of 127.0.0.1 nobody listens on now (0 when none is found).
int freePort();
// Whether something accepts connections on 127.0.0.1:`port` within `limit`.
bool awaitListening(int port, std::chrono::milliseconds limit);

// A station's state time ("t", µs) in an event's data, wherever the line
// nests the station's state; 0 when there is none.
std::int64_t stationTime(const JsonDocument& event);

struct ProcessFigures {
  double lineCpuSeconds = 0;      // the line's user + system time over the run
  double databaseCpuSeconds = 0;  // all of the server's processes
  double rssAfterWarmUpMiB = 0, rssEndMiB = 0, rssMaxMiB = 0;
  double sampledSeconds = 0;
};

// Samples a process's CPU and resident memory, and the database server's
// CPU, each time it is asked (once a second).
class ProcessSampler {
 public:
  explicit ProcessSampler(pid_t line);
  void sample();
  ProcessFigures figures() const;

 private:
  struct Sample {
    std::chrono::steady_clock::time_point at;
    double lineCpu = 0, databaseCpu = 0, rssMiB = 0;
  };
  pid_t line_;
  std::vector<Sample> samples_;
};

struct LineLoadFigures {
  double wallSeconds = 0;
  int targetPerSecond = 0;
  std::uint64_t sent = 0, exported = 0, lost = 0, duplicated = 0;
  std::uint64_t posts = 0, refused = 0;
  std::vector<double> postMs;
  std::vector<double> streamEvents;  // per stream
  std::vector<double> streamDelayMs;
  ProcessFigures process;
  std::vector<std::string> errors;  // the last of each station or stream that had one
};

void printLineLoad(const LineLoadFigures& figures);

}  // namespace voltrix::bench

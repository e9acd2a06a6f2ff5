#pragma once
// What the station benchmarks share: one zetak-sim serving every device of
// a case (the light rig, paced at 57600 baud), and one voltrix-cli station
// call over all its devices, timed from outside, its CPU its own.

#include <chrono>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "bench/ChildProcess_posix.h"

namespace voltrix::bench {

// One zetak-sim --devices N; ended with SIGTERM, after which its CPU and
// its last line (how late its answers left) are known.
class SimulatorRig {
 public:
  ~SimulatorRig() { end(); }

  bool start(const std::string& program, int devices, int silentDevice = 0) {
    std::vector<std::string> args{program, "--baud=57600", "--paced", "--devices",
                                  std::to_string(devices)};
    if (silentDevice > 0) {
      args.insert(args.end(), {"--fault", "silence:write-data", "--fault-device",
                               std::to_string(silentDevice)});
    }
    if (!process_.start(args)) return false;
    for (int i = 0; i < devices; ++i) {
      const std::string line = process_.readLine();
      if (line.rfind("/dev/", 0) != 0) return false;
      devices_.push_back(line);
    }
    return true;
  }
  const std::vector<std::string>& devices() const { return devices_; }

  void end() {
    if (ended_) return;
    ended_ = true;
    process_.terminate();
    for (std::string line; !(line = process_.readLine()).empty();) lastLine_ = line;
    process_.wait();
  }
  double cpu() const { return process_.cpu(); }
  const std::string& lastLine() const { return lastLine_; }

 private:
  ChildProcess process_;
  std::vector<std::string> devices_;
  std::string lastLine_;
  bool ended_ = false;
};

struct StationResult {
  int exitCode = -1;
  double wall = 0;
  double cpu = 0;
  std::vector<double> deviceSeconds;  // of the verified devices, from --json
  std::string errors;                 // its standard error, when it was captured
};

// Called once the station serves, with the port it serves on; returns once
// the clients are connected.
using ServingCallback = std::function<void(int port)>;

// One `voltrix-cli --json --port ... --port ...` call, with `extra` options.
// With `serving`, the station's standard error is read for the line that
// names its port, and `serving` is called with it.
inline StationResult runStation(const std::string& cli, const std::vector<std::string>& ports,
                                const std::vector<std::string>& extra = {},
                                const ServingCallback& serving = {}) {
  StationResult result;
  std::vector<std::string> args{cli, "--json", "--reply-timeout", "2"};
  args.insert(args.end(), extra.begin(), extra.end());
  for (const std::string& port : ports) {
    args.push_back("--port");
    args.push_back(port);
  }
  ChildProcess station;
  const auto started = std::chrono::steady_clock::now();
  if (!station.start(args, ChildProcess::Stream::Captured,
                     serving ? ChildProcess::Stream::Captured : ChildProcess::Stream::Inherited)) {
    return result;
  }
  if (serving) {
    constexpr char kServing[] = "serving the station on http://";
    for (std::string line; !(line = station.readErrorLine()).empty();) {
      result.errors += line + "\n";
      if (const auto at = line.find(kServing); at != std::string::npos) {
        const auto colon = line.rfind(':');
        serving(colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1));
        break;
      }
    }
  }
  std::string printed;
  station.drain(printed, result.errors);
  station.wait();
  result.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  result.cpu = station.cpu();
  result.exitCode = station.exitCode();
  std::istringstream lines(printed);
  for (std::string line; std::getline(lines, line);) {
    const auto at = line.find("\"seconds\":");
    if (line.find("\"exit_code\":0") != std::string::npos && at != std::string::npos) {
      result.deviceSeconds.push_back(std::stod(line.substr(at + 10)));
    }
  }
  return result;
}

}  // namespace voltrix::bench

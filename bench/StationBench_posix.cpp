// A station run of voltrix-cli against N simulated devices paced at 57600
// baud, each simulator a process of its own. For each N it prints the wall
// time of the whole call, its ratio to one device alone, and the CPU the
// station's process took per device (its own rusage, the simulators' not
// counted). A last case puts one silent device among 16 and compares the
// others' own times with one device's.
//
//   station-bench [PATH-TO-voltrix-cli [PATH-TO-zetak-sim]]

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/SystemTexts.h"
#include "sim/ImageBuilder.h"

namespace {

using namespace voltrix;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr std::uint32_t kImageBytes = 8 * 1024;

double seconds(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// The CPU the simulators took, collected as each one ends: on a small
// machine they compete with the station for the cores.
double simulatorCpu = 0;

struct Simulator {
  pid_t pid = -1;
  std::string device;
  Simulator() = default;
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;
  ~Simulator() {
    if (pid > 0) {
      ::kill(pid, SIGTERM);
      rusage usage{};
      ::wait4(pid, nullptr, 0, &usage);
      simulatorCpu += seconds(usage.ru_utime) + seconds(usage.ru_stime);
    }
  }
};

std::unique_ptr<Simulator> startSimulator(const std::string& program, bool silent) {
  auto sim = std::make_unique<Simulator>();
  int out[2];
  if (::pipe(out) != 0) return nullptr;
  sim->pid = ::fork();
  if (sim->pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::close(out[0]);
    if (silent) {
      ::execl(program.c_str(), program.c_str(), "--baud=57600", "--paced", "--fault",
              "silence:write-data", static_cast<char*>(nullptr));
    } else {
      ::execl(program.c_str(), program.c_str(), "--baud=57600", "--paced",
              static_cast<char*>(nullptr));
    }
    ::_exit(127);
  }
  ::close(out[1]);
  char ch = 0;
  while (::read(out[0], &ch, 1) == 1 && ch != '\n') sim->device.push_back(ch);
  ::close(out[0]);
  if (sim->device.empty()) return nullptr;
  return sim;
}

struct StationResult {
  int exitCode = -1;
  double wall = 0;
  double cpu = 0;
  std::vector<double> deviceSeconds;  // of the verified devices, from --json
};

StationResult runStation(const std::string& cli, const std::vector<std::string>& ports) {
  StationResult result;
  std::vector<std::string> args{cli, "--json", "--reply-timeout", "2"};
  for (const std::string& port : ports) {
    args.push_back("--port");
    args.push_back(port);
  }
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int out[2];
  if (::pipe(out) != 0) return result;
  const auto started = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::close(out[0]);
    ::execv(cli.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  std::string printed;
  char buffer[4096];
  for (ssize_t got; (got = ::read(out[0], buffer, sizeof buffer)) > 0;) {
    printed.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(out[0]);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  result.wall = std::chrono::duration<double>(Clock::now() - started).count();
  result.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::istringstream lines(printed);
  for (std::string line; std::getline(lines, line);) {
    const auto at = line.find("\"seconds\":");
    if (line.find("\"exit_code\":0") != std::string::npos && at != std::string::npos) {
      result.deviceSeconds.push_back(std::stod(line.substr(at + 10)));
    }
  }
  return result;
}

bool writeImage() {
  std::vector<ImageRecord> records;
  std::uint32_t seed = 7;
  std::int32_t address = 0x10000;
  for (std::uint32_t length : {kImageBytes / 2, kImageBytes / 2}) {
    ImageRecord record{0, address, {}, {}, {}};
    for (std::uint32_t i = 0; i < length; ++i) {
      seed = seed * 1664525u + 1013904223u;
      record.data.push_back(static_cast<std::uint8_t>(seed >> 24));
    }
    records.push_back(std::move(record));
    address += 0x10000;
  }
  return writeImageFile(texts::kImageFileName, buildImage(records));
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path here = fs::path(argv[0]).parent_path();
  const std::string cli =
      fs::absolute(argc > 1 ? fs::path(argv[1]) : here / "../cli/voltrix-cli").string();
  const std::string simProgram =
      fs::absolute(argc > 2 ? fs::path(argv[2]) : here / "../sim/zetak-sim").string();
  const auto workDir = fs::temp_directory_path() / "voltrix-station-bench";
  fs::create_directories(workDir);
  fs::current_path(workDir);
  if (!writeImage()) return 1;

  std::printf("%-28s %6s %9s %9s %10s %9s %10s\n", "case", "exit", "wall s", "ratio", "cpu s/dev",
              "cpu/dev", "sims cpu s");
  bool ok = true;
  double wallAlone = 0;
  double deviceAlone = 0;
  for (const int n : {1, 2, 4, 8, 16}) {
    simulatorCpu = 0;
    std::vector<std::unique_ptr<Simulator>> sims;
    std::vector<std::string> ports;
    for (int i = 0; i < n; ++i) {
      sims.push_back(startSimulator(simProgram, false));
      if (!sims.back()) return 1;
      ports.push_back(sims.back()->device);
    }
    const StationResult result = runStation(cli, ports);
    if (n == 1) {
      wallAlone = result.wall;
      deviceAlone = result.deviceSeconds.empty() ? 0 : result.deviceSeconds.front();
    }
    sims.clear();
    const double cpuPerDevice = result.cpu / n;
    const std::string name = std::to_string(n) + " device" + (n == 1 ? "" : "s");
    std::printf("%-28s %6d %9.3f %9.3f %10.4f %8.2f%% %10.3f\n", name.c_str(), result.exitCode,
                result.wall, result.wall / wallAlone, cpuPerDevice,
                100.0 * cpuPerDevice / result.wall, simulatorCpu);
    ok = ok && result.exitCode == 0;
  }

  // One silent device among 16: the others' own times against one alone.
  std::vector<std::unique_ptr<Simulator>> sims;
  std::vector<std::string> ports;
  for (int i = 0; i < 16; ++i) {
    sims.push_back(startSimulator(simProgram, i == 7));
    if (!sims.back()) return 1;
    ports.push_back(sims.back()->device);
  }
  const StationResult silent = runStation(cli, ports);
  const double slowest =
      silent.deviceSeconds.empty()
          ? 0
          : *std::max_element(silent.deviceSeconds.begin(), silent.deviceSeconds.end());
  std::printf("%-28s %6d %9.3f %9.3f %10.4f %8.2f%%\n", "16 with 1 silent (whole)", silent.exitCode,
              silent.wall, silent.wall / wallAlone, silent.cpu / 16,
              100.0 * silent.cpu / 16 / silent.wall);
  std::printf("%-28s %6s %9.3f %9.3f   (%zu verified; one alone %.3f s)\n",
              "  the 15 others, slowest", "", slowest, deviceAlone > 0 ? slowest / deviceAlone : 0,
              silent.deviceSeconds.size(), deviceAlone);
  ok = ok && silent.exitCode == 8 && silent.deviceSeconds.size() == 15;

  fs::current_path("/");
  fs::remove_all(workDir);
  return ok ? 0 : 1;
}

// A station run of voltrix-cli against N simulated devices paced at 57600
// baud, all served by one zetak-sim process (--devices N). For each N it
// prints the wall time of the whole call, its ratio to one device alone, the
// CPU the station's process took per device (its own rusage), and the CPU
// the simulator took as a share of one core over the run, so that a reader
// sees the devices cost little beside what is measured. A last case puts one
// silent device among 16 and compares the others' own times with one
// device's.
//
//   station-bench [PATH-TO-voltrix-cli [PATH-TO-zetak-sim]]

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "bench/BenchImage.h"
#include "engine/SystemTexts.h"
#include "sim/ImageBuilder.h"

namespace {

using namespace voltrix;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// Two segments of 16 KiB: long enough a run that start-up does not count.
constexpr std::uint32_t kImageBytes = 32 * 1024;

double seconds(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// One zetak-sim serving every device of a case; ended with SIGTERM, its CPU
// collected with wait4.
class SimulatorRigProcess {
 public:
  SimulatorRigProcess() = default;
  SimulatorRigProcess(const SimulatorRigProcess&) = delete;
  SimulatorRigProcess& operator=(const SimulatorRigProcess&) = delete;
  ~SimulatorRigProcess() { end(); }

  bool start(const std::string& program, int devices, int silentDevice) {
    int out[2];
    if (::pipe(out) != 0) return false;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      std::vector<std::string> args{program, "--baud=57600", "--paced", "--devices",
                                    std::to_string(devices)};
      if (silentDevice > 0) {
        args.insert(args.end(), {"--fault", "silence:write-data", "--fault-device",
                                 std::to_string(silentDevice)});
      }
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    output_ = ::fdopen(out[0], "r");
    if (pid_ < 0 || output_ == nullptr) return false;
    for (int i = 0; i < devices; ++i) {
      const std::string line = readLine();
      if (line.rfind("/dev/", 0) != 0) return false;
      devices_.push_back(line);
    }
    return true;
  }

  const std::vector<std::string>& devices() const { return devices_; }

  // Ends the simulator; its CPU seconds and its last line (the lateness of
  // its answers).
  void end() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    for (std::string line; !(line = readLine()).empty();) lastLine_ = line;
    rusage usage{};
    ::wait4(pid_, nullptr, 0, &usage);
    cpu_ = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    pid_ = -1;
    if (output_ != nullptr) ::fclose(output_);
    output_ = nullptr;
  }
  double cpu() const { return cpu_; }
  const std::string& lastLine() const { return lastLine_; }

 private:
  std::string readLine() {
    std::string line;
    for (int ch; output_ != nullptr && (ch = std::fgetc(output_)) != EOF && ch != '\n';) {
      line.push_back(static_cast<char>(ch));
    }
    return line;
  }

  pid_t pid_ = -1;
  std::FILE* output_ = nullptr;
  std::vector<std::string> devices_;
  double cpu_ = 0;
  std::string lastLine_;
};

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
  return bench::writeBenchImage({kImageBytes / 2, kImageBytes / 2}, 7, 0x10000, 0x10000);
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

  std::printf("%-26s %5s %8s %7s %10s %8s %8s\n", "case", "exit", "wall s", "ratio", "cpu s/dev",
              "cpu/dev", "rig cpu");
  bool ok = true;
  double wallAlone = 0;
  double deviceAlone = 0;
  std::vector<std::string> timings;
  const auto runCase = [&](const std::string& name, int devices, int silentDevice) {
    SimulatorRigProcess rig;
    if (!rig.start(simProgram, devices, silentDevice)) {
      rig.end();
      std::fprintf(stderr, "station-bench: zetak-sim --devices %d did not start\n", devices);
      fs::current_path("/");
      fs::remove_all(workDir);
      std::exit(1);
    }
    const StationResult result = runStation(cli, rig.devices());
    rig.end();
    if (wallAlone == 0) wallAlone = result.wall;
    const double cpuPerDevice = result.cpu / devices;
    std::printf("%-26s %5d %8.3f %7.3f %10.4f %7.2f%% %7.2f%%\n", name.c_str(), result.exitCode,
                result.wall, result.wall / wallAlone, cpuPerDevice,
                100.0 * cpuPerDevice / result.wall, 100.0 * rig.cpu() / result.wall);
    std::fflush(stdout);
    timings.push_back(name + ": " + rig.lastLine());
    return result;
  };

  for (const int n : {1, 4, 16, 64}) {
    const StationResult result = runCase(std::to_string(n) + " device" + (n == 1 ? "" : "s"), n, 0);
    if (n == 1) deviceAlone = result.deviceSeconds.empty() ? 0 : result.deviceSeconds.front();
    ok = ok && result.exitCode == 0;
  }

  // One silent device among 16: the others' own times against one alone.
  const StationResult silent = runCase("16 with 1 silent (whole)", 16, 8);
  const double slowest =
      silent.deviceSeconds.empty()
          ? 0
          : *std::max_element(silent.deviceSeconds.begin(), silent.deviceSeconds.end());
  std::printf("%-26s %5s %8.3f %7.3f   (%zu verified; one alone %.3f s)\n",
              "  the 15 others, slowest", "", slowest, deviceAlone > 0 ? slowest / deviceAlone : 0,
              silent.deviceSeconds.size(), deviceAlone);
  ok = ok && silent.exitCode == 8 && silent.deviceSeconds.size() == 15;

  // How far behind the line the simulator's answers went out.
  std::printf("\n");
  for (const std::string& timing : timings) std::printf("%s\n", timing.c_str());

  fs::current_path("/");
  fs::remove_all(workDir);
  return ok ? 0 : 1;
}

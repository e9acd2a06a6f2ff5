// What one device costs the station's host: the real voltrix-cli flashes a
// 32 KiB image (two segments, 1,024 block exchanges) into a simulated device
// paced at 57600 baud, as an operator would. Per device model it prints the
// run's wall time against the line's ideal, the CLI's CPU as a share of one
// core (its own rusage; the simulator's apart), and the system calls the CLI
// makes per block exchange and per request and reply, counted from outside
// with `strace -c -f` (that row is left out when strace is missing).
//
//   host-cost-bench [PATH-TO-voltrix-cli [PATH-TO-zetak-sim]]

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/BenchImage.h"
#include "bench/LineCost.h"
#include "engine/SystemTexts.h"
#include "sim/ImageBuilder.h"

namespace {

using namespace voltrix;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

const std::vector<std::uint32_t> kSegments{16 * 1024, 16 * 1024};
constexpr double kBaud = 57600;
constexpr double kSettlePause = 0.010;

double seconds(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

struct Child {
  pid_t pid = -1;
  double cpu = 0;
  int status = 0;
  // Waits for it; its CPU and exit status are then known.
  void reap() {
    if (pid <= 0) return;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    pid = -1;
  }
  ~Child() {
    if (pid > 0) ::kill(pid, SIGTERM);
    reap();
  }
};

// Starts `args`; with `firstLine`, waits for and returns its first line of output.
bool start(std::vector<std::string> args, Child& child, std::string* firstLine) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int out[2];
  if (::pipe(out) != 0) return false;
  child.pid = ::fork();
  if (child.pid == 0) {
    if (firstLine != nullptr) ::dup2(out[1], STDOUT_FILENO);
    ::close(out[0]);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  if (firstLine != nullptr) {
    char ch = 0;
    while (::read(out[0], &ch, 1) == 1 && ch != '\n') firstLine->push_back(ch);
  }
  ::close(out[0]);
  return firstLine == nullptr || !firstLine->empty();
}

struct DeviceModel {
  const char* name;
  std::vector<std::string> options;
};

struct Measured {
  bool verified = false;
  double wall = 0;
  double cpu = 0;
};

Measured flashOnce(const std::string& cli, const std::string& sim, const DeviceModel& model,
                   const std::vector<std::string>& prefix) {
  Measured measured;
  std::vector<std::string> simArgs{sim};
  simArgs.insert(simArgs.end(), model.options.begin(), model.options.end());
  Child device;
  std::string node;
  if (!start(simArgs, device, &node)) return measured;
  std::vector<std::string> args = prefix;
  args.insert(args.end(), {cli, "-q", "--port", node});
  Child host;
  const auto started = Clock::now();
  if (!start(args, host, nullptr)) return measured;
  host.reap();
  measured.wall = std::chrono::duration<double>(Clock::now() - started).count();
  measured.cpu = host.cpu;
  measured.verified = WIFEXITED(host.status) && WEXITSTATUS(host.status) == 0;
  return measured;
}

// The "total" row of strace's summary: its calls column.
long tracedCalls(const fs::path& summary) {
  std::ifstream file(summary);
  long calls = -1;
  for (std::string line; std::getline(file, line);) {
    std::istringstream words(line);
    std::vector<std::string> fields;
    for (std::string word; words >> word;) fields.push_back(word);
    if (fields.size() >= 4 && fields.back() == "total") calls = std::stol(fields[3]);
  }
  return calls;
}

bool haveStrace() {
  return std::system("strace -V >/dev/null 2>&1") == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path here = fs::absolute(fs::path(argv[0])).parent_path();
  const std::string cli =
      fs::absolute(argc > 1 ? fs::path(argv[1]) : here / "../cli/voltrix-cli").string();
  const std::string sim =
      fs::absolute(argc > 2 ? fs::path(argv[2]) : here / "../sim/zetak-sim").string();
  const fs::path workDir = fs::temp_directory_path() / "voltrix-host-cost-bench";
  fs::create_directories(workDir);
  fs::current_path(workDir);

  if (!bench::writeBenchImage(kSegments, 11, 0x10000, 0x10000)) return 1;

  const bench::LineCost cost = bench::protocolCost(kSegments);
  const double ideal = cost.bytes * 10 / kBaud + cost.settlePauses * kSettlePause;
  const bool tracing = haveStrace();
  const DeviceModel models[] = {
      {"per-byte simulator", {"--paced", "--baud=57600"}},
      {"light rig, one device", {"--devices=1", "--paced", "--baud=57600"}},
  };
  std::printf("32 KiB image: %.0f block exchanges, %.0f requests and replies, ideal %.3f s\n",
              cost.blockExchanges, cost.turnarounds, ideal);
  std::printf("%-24s %8s %8s %8s %8s %9s %10s %10s\n", "device model", "result", "wall s", "/ideal",
              "cpu s", "cpu/core", "calls/blk", "calls/req");
  bool ok = true;
  for (const DeviceModel& model : models) {
    const Measured run = flashOnce(cli, sim, model, {});
    double perBlock = -1, perRequest = -1;
    if (tracing) {
      const fs::path summary = workDir / "strace.txt";
      const Measured traced =
          flashOnce(cli, sim, model, {"strace", "-c", "-f", "-o", summary.string()});
      const long calls = traced.verified ? tracedCalls(summary) : -1;
      if (calls > 0) {
        perBlock = static_cast<double>(calls) / cost.blockExchanges;
        perRequest = static_cast<double>(calls) / cost.turnarounds;
      }
    }
    std::printf("%-24s %8s %8.3f %8.3f %8.3f %8.2f%% %10.2f %10.2f\n", model.name,
                run.verified ? "verified" : "FAILED", run.wall, run.wall / ideal, run.cpu,
                run.wall > 0 ? 100.0 * run.cpu / run.wall : 0.0, perBlock, perRequest);
    ok = ok && run.verified;
  }
  fs::current_path("/");
  fs::remove_all(workDir);
  return ok ? 0 : 1;
}

// What one device costs the station's host: the real voltrix-cli flashes a
// 32 KiB image (two segments, 1,024 block exchanges) into a simulated device
// paced at 57600 baud, as an operator would. Per device model it prints the
// run's wall time against the line's ideal, the CLI's CPU as a share of one
// core (its own rusage; the simulator's apart), and the system calls the CLI
// makes per block exchange and per request and reply, counted from outside
// with `strace -c -f` (that row is left out when strace is missing).
//
//   host-cost-bench [PATH-TO-voltrix-cli [PATH-TO-zetak-sim]]

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/BenchImage.h"
#include "bench/ChildProcess_posix.h"
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
  bench::ChildProcess device;
  if (!device.start(simArgs)) return measured;
  const std::string node = device.readLine();
  if (node.empty()) return measured;
  std::vector<std::string> args = prefix;
  args.insert(args.end(), {cli, "-q", "--port", node});
  bench::ChildProcess host;
  const auto started = Clock::now();
  if (!host.start(args, bench::ChildProcess::Stream::Inherited)) return measured;
  host.wait();
  measured.wall = std::chrono::duration<double>(Clock::now() - started).count();
  measured.cpu = host.cpu();
  measured.verified = host.exitCode() == 0;
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

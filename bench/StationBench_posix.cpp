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

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchImage.h"
#include "bench/StationRun_posix.h"
#include "engine/SystemTexts.h"
#include "sim/ImageBuilder.h"

namespace {

using namespace voltrix;
using bench::StationResult;
namespace fs = std::filesystem;

// Two segments of 16 KiB: long enough a run that start-up does not count.
constexpr std::uint32_t kImageBytes = 32 * 1024;

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
    bench::SimulatorRig rig;
    if (!rig.start(simProgram, devices, silentDevice)) {
      rig.end();
      std::fprintf(stderr, "station-bench: zetak-sim --devices %d did not start\n", devices);
      fs::current_path("/");
      fs::remove_all(workDir);
      std::exit(1);
    }
    const StationResult result = bench::runStation(cli, rig.devices());
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

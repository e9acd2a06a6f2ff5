// Whole downloads against the simulated loader, run as its own process so
// that only the host's CPU is counted. For each case it prints the measured
// wall time, the ideal time of the protocol on that line, their ratio and the
// host's CPU seconds.
//
//   download-bench [PATH-TO-zetak-sim]

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchImage.h"
#include "bench/ChildProcess_posix.h"
#include "bench/LineCost.h"
#include "engine/DownloadWorker.h"
#include "engine/ImageFileOps.h"
#include "engine/MessageQueue.h"
#include "engine/SystemTexts.h"
#include "link/SerialLinkPhases.h"
#include "sim/ImageBuilder.h"

namespace {

using namespace voltrix;
using Clock = std::chrono::steady_clock;

struct Case {
  const char* name;
  std::vector<std::uint32_t> lengths;
  bool paced;
  int latencyMs;
};

bool startSimulator(const std::string& program, const Case& c, bench::ChildProcess& sim,
                    std::string& device) {
  std::vector<std::string> args{program, "--baud=57600",
                                "--latency-ms=" + std::to_string(c.latencyMs)};
  if (c.paced) args.insert(args.begin() + 2, "--paced");
  if (!sim.start(args)) return false;
  device = sim.readLine();
  return !device.empty();
}

double cpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool runCase(const std::string& simProgram, const Case& c) {
  if (!bench::writeBenchImage(c.lengths, 99, 0x20000, 0x20000)) return false;

  bench::ChildProcess sim;
  std::string device;
  if (!startSimulator(simProgram, c, sim, device)) return false;
  DownloadState state;
  ImageFileOps ops;
  state.segmentCount = ops.loadSegmentTable(texts::kImageFileName, state.segmentOffsets,
                                            state.segmentAddresses, state.segmentLengths);
  state.busy = BusyState::Downloading;
  MessageQueue queue;
  SerialLinkPhases link(fixedDeviceResolver(device));

  const double cpuBefore = cpuSeconds();
  const auto started = Clock::now();
  const std::uint32_t result = DownloadWorker(state, queue, link);
  const double wall = std::chrono::duration<double>(Clock::now() - started).count();
  const double cpu = cpuSeconds() - cpuBefore;

  const bench::LineCost cost = bench::protocolCost(c.lengths);
  const double lineTime = c.paced ? cost.bytes * 10.0 / 57600.0 : 0.0;
  const double ideal = lineTime + cost.turnarounds * c.latencyMs / 1000.0;
  const double idealWithPauses = ideal + cost.settlePauses * 0.010;
  // What each reply costs beyond the ideal: host, pseudo-terminal and simulator together.
  const double overheadPerTurn = (wall - idealWithPauses) / cost.turnarounds * 1e6;
  std::printf("%-34s %8s %9.3f %9.3f %6.3f %9.3f %6.3f %7.0f %8.3f %5.1f%%\n", c.name,
              result == 0 ? "verified" : "FAILED", wall, ideal, ideal > 0 ? wall / ideal : 0.0,
              idealWithPauses, wall / idealWithPauses, overheadPerTurn, cpu, 100.0 * cpu / wall);
  return result == 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Absolute, since the benchmark works in a directory of its own.
  const std::string simProgram = std::filesystem::absolute(
      argc > 1 ? std::filesystem::path(argv[1])
               : std::filesystem::path(argv[0]).parent_path() / "../sim/zetak-sim");
  const auto workDir = std::filesystem::temp_directory_path() / "voltrix-bench";
  std::filesystem::create_directories(workDir);
  std::filesystem::current_path(workDir);

  const std::vector<std::uint32_t> one64k{65536};
  const std::vector<std::uint32_t> mixed{0,   1,    63,   64,  65,  1000, 4096, 127,
                                         128, 2000, 8192, 513, 511, 3000, 6000, 16384};
  const Case cases[] = {
      {"64 KiB, 1 segment, paced, 0 ms", one64k, true, 0},
      {"16 segments mixed, paced, 0 ms", mixed, true, 0},
      {"64 KiB, 1 segment, unpaced, 1 ms", one64k, false, 1},
      {"16 segments mixed, unpaced, 1 ms", mixed, false, 1},
      // No line time and no latency: what is left is the cost of each turnaround.
      {"64 KiB, 1 segment, unpaced, 0 ms", one64k, false, 0},
  };
  std::printf("%-34s %8s %9s %9s %6s %9s %6s %7s %8s %6s\n", "case", "result", "wall s", "ideal s",
              "ratio", "+pauses", "ratio", "us/turn", "cpu s", "cpu");
  bool ok = true;
  for (const Case& c : cases) ok = runCase(simProgram, c) && ok;
  std::filesystem::current_path("/");
  std::filesystem::remove_all(workDir);
  return ok ? 0 : 1;
}

// What serving the station costs the flashing: one voltrix-cli station call
// over 16 paced devices of the light rig, run without the HTTP service,
// with `--serve 127.0.0.1:0` and no client, and served with event-stream
// clients (10 by default) that stay connected from the moment it serves
// until it ends; the three interleaved, their order turning, over a few
// rounds, because the machine is shared. Per run it
// prints the wall time, the station's CPU per device (its own rusage, the
// service's threads included), the clients' CPU (their threads in this
// process), and the time from each state change (the event's "t") to the
// moment a client read it: p50, p99 and max over all events of all
// clients. Then the medians over the rounds and their spread. Every client
// that saw less than the whole stream is named, with why.
//
//   station-serve-bench [--rounds R] [--clients N] [PATH-TO-voltrix-cli [PATH-TO-zetak-sim]]

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchImage.h"
#include "bench/EventStreamClient.h"
#include "bench/StationRun_posix.h"

namespace {

using namespace voltrix;
namespace fs = std::filesystem;

constexpr int kDevices = 16;
constexpr std::uint32_t kImageBytes = 32 * 1024;

struct Run {
  bench::StationResult station;
  double clientsCpu = 0;
  std::vector<double> latencies;  // ms, all events of all clients
  std::uint64_t events = 0;       // per client, the most
  double slowestConnectMs = 0;
  double longestSilenceMs = 0;
  int failedClients = 0;
  long listenOverflows = 0;  // the system's count, over the run
};

double percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(at, values.size() - 1)];
}

double median(std::vector<double> values) {
  return percentile(std::move(values), 0.5);
}

// The system's count of connections a full listen queue turned away (all
// of the machine's, so only a change during a run says anything).
long listenOverflows() {
  std::ifstream netstat("/proc/net/netstat");
  std::string names, values;
  while (std::getline(netstat, names) && std::getline(netstat, values)) {
    if (names.rfind("TcpExt:", 0) != 0) continue;
    std::istringstream nameWords(names), valueWords(values);
    for (std::string name, value; nameWords >> name && valueWords >> value;) {
      if (name == "ListenOverflows") return std::stol(value);
    }
  }
  return 0;
}

// One run: without the service (`clients` < 0), or served with `clients`
// event-stream clients (none: what the service costs by itself).
Run runOnce(const std::string& cli, const std::string& sim, int clients) {
  Run run;
  bench::SimulatorRig rig;
  if (!rig.start(sim, kDevices)) {
    std::fprintf(stderr, "station-serve-bench: zetak-sim --devices %d did not start\n", kDevices);
    return run;
  }
  if (clients < 0) {
    run.station = bench::runStation(cli, rig.devices());
    return run;
  }
  std::vector<std::unique_ptr<bench::EventStreamClient>> streams;
  const long overflowsBefore = listenOverflows();
  run.station = bench::runStation(cli, rig.devices(), {"--serve", "127.0.0.1:0"}, [&](int port) {
    for (int i = 0; i < clients; ++i) {
      streams.push_back(std::make_unique<bench::EventStreamClient>(port));
    }
  });
  rig.end();
  run.listenOverflows = listenOverflows() - overflowsBefore;
  for (std::size_t i = 0; i < streams.size(); ++i) {
    const bench::EventStreamFigures& figures = streams[i]->finish();
    run.clientsCpu += figures.cpu;
    run.latencies.insert(run.latencies.end(), figures.latenciesMs.begin(),
                         figures.latenciesMs.end());
    run.events = std::max(run.events, figures.events);
    run.slowestConnectMs = std::max(run.slowestConnectMs, figures.connectMs);
    run.longestSilenceMs = std::max(run.longestSilenceMs, figures.longestSilenceMs);
    const bool whole = figures.error.empty() && figures.ended && figures.finished && !figures.gap &&
                       figures.firstId == 1;
    if (!whole) {
      ++run.failedClients;
      std::printf("  client %2zu: status %d, events %llu (ids %llu..%llu%s), %s%s\n", i + 1,
                  figures.status, static_cast<unsigned long long>(figures.events),
                  static_cast<unsigned long long>(figures.firstId),
                  static_cast<unsigned long long>(figures.lastId), figures.gap ? ", a gap" : "",
                  figures.error.empty() ? "" : figures.error.c_str(),
                  figures.finished ? "" : " (no station_finished)");
    }
  }
  return run;
}

// The slowest device's own time, as the station's JSON gives it: flashing
// without the process's start and end.
double slowestDevice(const Run& run) {
  const auto& seconds = run.station.deviceSeconds;
  return seconds.empty() ? 0 : *std::max_element(seconds.begin(), seconds.end());
}

void printRun(int round, const char* name, const Run& run) {
  const double cpuPerDevice = run.station.cpu / kDevices;
  std::printf(
      "%5d %-8s %4d %8.3f %8.3f %9.4f %7.3f%% %10.3f %7llu %8.2f %8.2f %8.2f %8.0f %6d %5ld\n",
      round, name, run.station.exitCode, run.station.wall, slowestDevice(run), cpuPerDevice,
      run.station.wall > 0 ? 100.0 * cpuPerDevice / run.station.wall : 0.0, run.clientsCpu,
      static_cast<unsigned long long>(run.events), percentile(run.latencies, 0.5),
      percentile(run.latencies, 0.99),
      run.latencies.empty() ? 0.0 : *std::max_element(run.latencies.begin(), run.latencies.end()),
      run.slowestConnectMs, run.failedClients, run.listenOverflows);
  std::fflush(stdout);
}

void printSpread(const char* what, std::vector<double> values, const char* unit) {
  std::sort(values.begin(), values.end());
  std::printf("%-44s median %8.4f%s  (min %.4f, max %.4f, n=%zu)\n", what, median(values), unit,
              values.front(), values.back(), values.size());
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 3;
  int clients = 10;
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
      rounds = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--clients") == 0 && i + 1 < argc) {
      clients = std::max(1, std::atoi(argv[++i]));
    } else if (argv[i][0] != '-' && paths.size() < 2) {
      paths.push_back(argv[i]);
    } else {
      std::fprintf(stderr,
                   "usage: station-serve-bench [--rounds R] [--clients N] "
                   "[PATH-TO-voltrix-cli [PATH-TO-zetak-sim]]\n");
      return 2;
    }
  }
  const fs::path here = fs::absolute(fs::path(argv[0])).parent_path();
  const std::string cli =
      fs::absolute(paths.size() > 0 ? fs::path(paths[0]) : here / "../cli/voltrix-cli").string();
  const std::string sim =
      fs::absolute(paths.size() > 1 ? fs::path(paths[1]) : here / "../sim/zetak-sim").string();
  for (const std::string& program : {cli, sim}) {
    if (::access(program.c_str(), X_OK) != 0) {
      std::fprintf(stderr, "station-serve-bench: %s is not a program that can be run\n",
                   program.c_str());
      return 2;
    }
  }
  const auto workDir = fs::temp_directory_path() / "voltrix-station-serve-bench";
  fs::create_directories(workDir);
  fs::current_path(workDir);
  if (!bench::writeBenchImage({kImageBytes / 2, kImageBytes / 2}, 7, 0x10000, 0x10000)) return 1;

  std::printf(
      "%d paced devices (light rig), 32 KiB image; with: --serve and %d event-stream "
      "clients\n",
      kDevices, clients);
  std::printf("%5s %-8s %4s %8s %8s %9s %8s %10s %7s %8s %8s %8s %8s %6s %5s\n", "round", "case",
              "exit", "wall s", "dev s", "cpu s/dev", "cpu/dev", "clients s", "events", "p50 ms",
              "p99 ms", "max ms", "conn ms", "failed", "ovfl");
  bool ok = true;
  std::vector<double> wallRatios, deviceRatios, cpuRatios, cpuWithout, cpuServed, cpuWith,
      clientCpu, p50s, p99s, maxima;
  std::vector<double> allLatencies;
  for (int round = 1; round <= rounds; ++round) {
    // The cases' order turns with each round.
    Run without, idle, with;
    const struct {
      const char* name;
      int clients;
      Run& run;
    } cases[] = {{"without", -1, without}, {"served", 0, idle}, {"with", clients, with}};
    for (int i = 0; i < 3; ++i) {
      const auto& c = cases[(i + round - 1) % 3];
      c.run = runOnce(cli, sim, c.clients);
      printRun(round, c.name, c.run);
      ok = ok && c.run.station.exitCode == 0 && c.run.failedClients == 0;
    }
    if (without.station.wall <= 0 || without.station.cpu <= 0) continue;
    wallRatios.push_back(with.station.wall / without.station.wall);
    if (slowestDevice(without) > 0)
      deviceRatios.push_back(slowestDevice(with) / slowestDevice(without));
    cpuRatios.push_back(with.station.cpu / without.station.cpu);
    cpuWithout.push_back(100.0 * without.station.cpu / kDevices / without.station.wall);
    cpuServed.push_back(100.0 * idle.station.cpu / kDevices / idle.station.wall);
    cpuWith.push_back(100.0 * with.station.cpu / kDevices / with.station.wall);
    clientCpu.push_back(100.0 * with.clientsCpu / kDevices / with.station.wall);
    p50s.push_back(percentile(with.latencies, 0.5));
    p99s.push_back(percentile(with.latencies, 0.99));
    maxima.push_back(with.latencies.empty()
                         ? 0
                         : *std::max_element(with.latencies.begin(), with.latencies.end()));
    allLatencies.insert(allLatencies.end(), with.latencies.begin(), with.latencies.end());
  }
  if (!wallRatios.empty() && !allLatencies.empty()) {
    std::printf("\n");
    printSpread("wall(with)/wall(without)", wallRatios, "");
    printSpread("slowest device's own time with/without", deviceRatios, "");
    printSpread("station CPU with/without", cpuRatios, "");
    printSpread("station CPU per device without (% of a core)", cpuWithout, "%");
    printSpread("station CPU per device served, no client", cpuServed, "%");
    printSpread("station CPU per device with (% of a core)", cpuWith, "%");
    printSpread("clients' CPU per device (% of a core)", clientCpu, "%");
    printSpread("state change to client, p50", p50s, " ms");
    printSpread("state change to client, p99", p99s, " ms");
    printSpread("state change to client, max", maxima, " ms");
    std::printf("all rounds' events together (%zu): p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                allLatencies.size(), percentile(allLatencies, 0.5), percentile(allLatencies, 0.99),
                *std::max_element(allLatencies.begin(), allLatencies.end()));
  }
  fs::current_path("/");
  fs::remove_all(workDir);
  return ok ? 0 : 1;
}

// What one line takes: synthetic stations (no serial lines) post records to
// one voltrix-line on a throwaway PostgreSQL cluster whose commits are
// synced to disk as a real server's are, while browsers' event streams
// follow the line's dashboard. Each station finishes its slots' devices at
// an even pace, posts every record it has as soon as the previous post was
// answered (one post in flight, as a station's outbox sends), and posts its
// live state every 250 ms. At the end the line's own export is read back
// and every id sent must be in it exactly once.
//
// Printed: records accepted per second against the target, the latency of
// a post (p50, p99, max), the line's CPU and memory over the run (sampled
// every second from /proc; memory after the warm-up against the end), the
// database server's CPU, and the event streams' events and delay from a
// station's state to a browser (from the state's "t").
//
//   line-load-bench [--stations N] [--slots N] [--seconds S] [--rate R] [--streams N]
//                   PATH-TO-voltrix-line PATH-TO-pg-cluster.sh

#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/ChildProcess_posix.h"
#include "bench/LineLoadFigures.h"
#include "record/JsonText.h"
#include "record/TraceLog.h"

namespace {

using namespace voltrix;
using namespace std::chrono;
namespace fs = std::filesystem;

struct Options {
  int stations = 50, slots = 16, seconds = 60, rate = 1000, streams = 20;
  std::string line, cluster;
};

const char* const kStationToken = "bench-station-token";
const char* const kViewerToken = "bench-viewer-token";

httplib::Headers bearer(const char* token) {
  return {{"Authorization", std::string("Bearer ") + token}};
}

std::int64_t nowMicros() {
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

// One synthetic station on a thread of its own.
struct StationLoad {
  std::string name;
  std::vector<std::string> sent;  // ids, in order
  std::vector<double> postMs;
  int refused = 0;  // posts answered other than 200
  std::string lastError;
};

std::string syntheticRecord(const std::string& station, int slot, std::string& id) {
  AttemptRecord record;
  record.station = station;
  record.slot = "pci-0000:00:14.0-usb-0:" + std::to_string(slot + 1) + ":1.0";
  record.port = "/dev/ttyACM" + std::to_string(slot);
  record.label = "slot " + std::to_string(slot + 1);
  record.imagePath = "/var/lib/voltrix-station/sysbin.bin";
  record.imageSha256 = std::string(64, 'a');
  const bool failed = slot == 7;  // one slot of each station fails, with the system's text
  record.result = failed ? "Failed at segment 2: Verify data failed." : "verified";
  record.exitCode = failed ? 8 : 0;
  record.ended = system_clock::now();
  record.started = record.ended - seconds(3);
  id = newRecordId();
  return traceRecordJson(record, id);
}

std::string stateDocument(const StationLoad& station, int slots, std::int64_t sent) {
  JsonDocument state;
  state["station"] = station.name;
  state["version"] = "bench";
  state["t"] = nowMicros();
  state["image"] = {{"name", "sysbin.bin"}, {"sha256", std::string(64, 'a')}};
  state["outbox"] = {{"records", 0}, {"bytes", 0}, {"oldest", nullptr}, {"lastError", nullptr}};
  state["counts"] = {{"verified", sent}, {"failed", 0}};
  state["slots"] = JsonDocument::array();
  for (int slot = 0; slot < slots; ++slot) {
    state["slots"].push_back({{"slot", "usb-" + std::to_string(slot + 1)},
                              {"state", "flashing"},
                              {"segment", 1},
                              {"progress", 50}});
  }
  return state.dump();
}

void runStation(StationLoad& station, const Options& options, int port,
                steady_clock::time_point end) {
  httplib::Client client("127.0.0.1", port);
  client.set_keep_alive(true);
  client.set_tcp_nodelay(true);  // as a station's uplink posts
  client.set_connection_timeout(5);
  client.set_read_timeout(30);
  const double perSecond = static_cast<double>(options.rate) / options.stations;
  const auto started = steady_clock::now();
  auto nextState = started;
  std::int64_t made = 0;
  std::vector<std::string> pending, pendingIds;
  while (steady_clock::now() < end) {
    // The devices that finished since the last post, at an even pace.
    const double elapsed = duration<double>(steady_clock::now() - started).count();
    while (made < static_cast<std::int64_t>(elapsed * perSecond)) {
      std::string id;
      pending.push_back(syntheticRecord(station.name, static_cast<int>(made % options.slots), id));
      pendingIds.push_back(std::move(id));
      ++made;
    }
    if (steady_clock::now() >= nextState) {
      nextState += milliseconds(250);
      const auto answer =
          client.Post("/api/stations/state", bearer(kStationToken),
                      stateDocument(station, options.slots, made), "application/json");
      if (!answer || answer->status != 204) ++station.refused;
    }
    if (pending.empty()) {
      std::this_thread::sleep_for(milliseconds(5));
      continue;
    }
    std::string body;
    for (const std::string& line : pending) body += line + "\n";
    const auto sentAt = steady_clock::now();
    const auto answer =
        client.Post("/api/records", bearer(kStationToken), body, "application/x-ndjson");
    station.postMs.push_back(duration<double, std::milli>(steady_clock::now() - sentAt).count());
    if (answer && answer->status == 200) {
      station.sent.insert(station.sent.end(), pendingIds.begin(), pendingIds.end());
      pending.clear();
      pendingIds.clear();
    } else {
      ++station.refused;
      station.lastError =
          answer ? "status " + std::to_string(answer->status) : httplib::to_string(answer.error());
      std::this_thread::sleep_for(milliseconds(200));  // the outbox's back-off, shortened
    }
  }
  // What is still pending is sent once more, as an outbox would at its end.
  if (!pending.empty()) {
    std::string body;
    for (const std::string& line : pending) body += line + "\n";
    const auto answer =
        client.Post("/api/records", bearer(kStationToken), body, "application/x-ndjson");
    if (answer && answer->status == 200) {
      station.sent.insert(station.sent.end(), pendingIds.begin(), pendingIds.end());
    }
  }
}

// A browser's event stream: counts events and, for a station's state, the
// delay from its "t" to now.
struct StreamLoad {
  std::uint64_t events = 0;
  std::vector<double> delayMs;
  std::string error;
};

void followEvents(StreamLoad& stream, int port, const std::atomic<bool>& stop) {
  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(10);
  std::string buffer;
  const auto answer = client.Get(
      "/api/events", bearer(kViewerToken), [](const httplib::Response&) { return true; },
      [&](const char* data, std::size_t size) {
        buffer.append(data, size);
        for (std::size_t end; (end = buffer.find("\n\n")) != std::string::npos;) {
          const std::string event = buffer.substr(0, end);
          buffer.erase(0, end + 2);
          ++stream.events;
          const auto at = event.find("data:");
          if (at == std::string::npos) continue;
          const JsonDocument json = JsonDocument::parse(event.substr(at + 5), nullptr, false);
          const std::int64_t t = bench::stationTime(json);
          if (t > 0) stream.delayMs.push_back(static_cast<double>(nowMicros() - t) / 1000.0);
        }
        return !stop.load();
      });
  if (!answer && !stop.load()) stream.error = httplib::to_string(answer.error());
}

int runBench(const Options& options) {
  const char* conninfo = std::getenv("VOLTRIX_PG");
  const fs::path dir =
      fs::temp_directory_path() / ("voltrix-line-bench." + std::to_string(getpid()));
  fs::create_directories(dir);
  {
    std::ofstream tokens(dir / "tokens");
    tokens << "station " << kStationToken << " bench-stations\nviewer " << kViewerToken
           << " bench-browsers\n";
  }
  const int port = bench::freePort();
  bench::ChildProcess line;
  if (port <= 0 ||
      !line.start({options.line, "--db", conninfo, "--listen", "127.0.0.1:" + std::to_string(port),
                   "--token-file", (dir / "tokens").string()},
                  bench::ChildProcess::Stream::Inherited)) {
    std::fprintf(stderr, "line-load-bench: cannot start %s\n", options.line.c_str());
    return 1;
  }
  if (!bench::awaitListening(port, seconds(30))) {
    std::fprintf(stderr, "line-load-bench: the line does not answer on port %d\n", port);
    return 1;
  }
  std::printf("line on 127.0.0.1:%d; %d stations x %d slots, %d records/s for %d s, %d streams\n",
              port, options.stations, options.slots, options.rate, options.seconds,
              options.streams);
  std::fflush(stdout);

  std::atomic<bool> stop{false};
  std::vector<StreamLoad> streams(static_cast<std::size_t>(options.streams));
  std::vector<std::thread> streamThreads;
  for (StreamLoad& stream : streams) {
    streamThreads.emplace_back([&stream, port, &stop] { followEvents(stream, port, stop); });
  }
  bench::ProcessSampler sampler(line.pid());
  std::vector<StationLoad> stations(static_cast<std::size_t>(options.stations));
  const auto start = steady_clock::now();
  const auto end = start + seconds(options.seconds);
  std::vector<std::thread> stationThreads;
  for (std::size_t i = 0; i < stations.size(); ++i) {
    stations[i].name = "bench-" + std::to_string(i + 1);
    stationThreads.emplace_back(
        [&station = stations[i], &options, port, end] { runStation(station, options, port, end); });
  }
  while (steady_clock::now() < end) {
    std::this_thread::sleep_for(seconds(1));
    sampler.sample();
  }
  for (std::thread& thread : stationThreads) thread.join();
  const double wall = duration<double>(steady_clock::now() - start).count();
  sampler.sample();
  stop = true;

  // Every id sent, once, in the line's own export.
  std::map<std::string, int> exported;
  {
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(120);
    std::string rest;
    client.Get(
        "/api/export?format=jsonl", bearer(kViewerToken),
        [](const httplib::Response&) { return true; },
        [&](const char* data, std::size_t size) {
          rest.append(data, size);
          for (std::size_t end; (end = rest.find('\n')) != std::string::npos;) {
            const JsonDocument json = JsonDocument::parse(rest.substr(0, end), nullptr, false);
            rest.erase(0, end + 1);
            if (json.is_object() && json.contains("id")) ++exported[json["id"].get<std::string>()];
          }
          return true;
        });
  }
  line.terminate();
  for (std::thread& thread : streamThreads) thread.join();

  bench::LineLoadFigures figures;
  figures.wallSeconds = wall;
  figures.targetPerSecond = options.rate;
  for (const StationLoad& station : stations) {
    figures.posts += station.postMs.size();
    figures.refused += static_cast<std::uint64_t>(station.refused);
    figures.postMs.insert(figures.postMs.end(), station.postMs.begin(), station.postMs.end());
    for (const std::string& id : station.sent) {
      ++figures.sent;
      const auto found = exported.find(id);
      if (found == exported.end()) {
        ++figures.lost;
      } else if (found->second > 1) {
        ++figures.duplicated;
      }
    }
    if (!station.lastError.empty())
      figures.errors.push_back(station.name + ": " + station.lastError);
  }
  figures.exported = exported.size();
  for (const StreamLoad& stream : streams) {
    figures.streamEvents.push_back(static_cast<double>(stream.events));
    figures.streamDelayMs.insert(figures.streamDelayMs.end(), stream.delayMs.begin(),
                                 stream.delayMs.end());
    if (!stream.error.empty()) figures.errors.push_back("stream: " + stream.error);
  }
  figures.process = sampler.figures();
  bench::printLineLoad(figures);
  fs::remove_all(dir);
  return figures.lost == 0 && figures.duplicated == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    int* number = arg == "--stations"  ? &options.stations
                  : arg == "--slots"   ? &options.slots
                  : arg == "--seconds" ? &options.seconds
                  : arg == "--rate"    ? &options.rate
                  : arg == "--streams" ? &options.streams
                                       : nullptr;
    if (number != nullptr && i + 1 < argc && std::atoi(argv[i + 1]) > 0) {
      *number = std::atoi(argv[++i]);
    } else if (number == nullptr && arg.rfind("--", 0) != 0) {
      paths.push_back(arg);
    } else {
      paths.clear();
      break;
    }
  }
  if (paths.size() != 2 || access(paths[0].c_str(), X_OK) != 0 ||
      access(paths[1].c_str(), X_OK) != 0) {
    std::fprintf(stderr,
                 "usage: line-load-bench [--stations N] [--slots N] [--seconds S] [--rate R] "
                 "[--streams N] PATH-TO-voltrix-line PATH-TO-pg-cluster.sh\n");
    return 2;
  }
  options.line = paths[0];
  options.cluster = paths[1];
  if (std::getenv("VOLTRIX_PG") == nullptr) {
    // Once more under a throwaway cluster whose commits reach the disk.
    setenv("VOLTRIX_PG_DURABLE", "1", 1);
    std::error_code error;
    std::string self = fs::canonical("/proc/self/exe", error).string();
    std::vector<char*> again{options.cluster.data(), self.data()};
    for (int i = 1; i < argc; ++i) again.push_back(argv[i]);
    again.push_back(nullptr);
    execv(options.cluster.c_str(), again.data());
    std::perror("line-load-bench: cannot start the cluster");
    return 1;
  }
  return runBench(options);
}

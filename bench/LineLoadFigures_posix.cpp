#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "bench/LineLoadFigures.h"

namespace voltrix::bench {

namespace {

using namespace std::chrono;

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// User + system seconds of a process, from /proc/PID/stat (fields 14, 15).
double cpuSeconds(const std::string& pid) {
  std::ifstream stat("/proc/" + pid + "/stat");
  std::string text;
  std::getline(stat, text);
  const auto close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long long user = 0, system = 0;
  for (int index = 3; fields >> field; ++index) {
    if (index == 14) user = std::stoull(field);
    if (index == 15) {
      system = std::stoull(field);
      break;
    }
  }
  return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double residentMiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  }
  return 0;
}

// Every PostgreSQL server process on the machine (the benchmark's cluster
// is the only one while it runs).
double databaseCpuSeconds() {
  double total = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string pid = entry.path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream comm(entry.path() / "comm");
    std::string name;
    if (std::getline(comm, name) && name.rfind("postgres", 0) == 0) total += cpuSeconds(pid);
  }
  return total;
}

double percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(at, values.size() - 1)];
}

}  // namespace

int freePort() {
  const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return 0;
  sockaddr_in address = loopback(0);
  socklen_t size = sizeof address;
  int port = 0;
  if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(probe);
  return port;
}

bool awaitListening(int port, milliseconds limit) {
  const auto deadline = steady_clock::now() + limit;
  while (steady_clock::now() < deadline) {
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopback(port);
    const bool answered =
        probe >= 0 &&
        ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (probe >= 0) ::close(probe);
    if (answered) return true;
    std::this_thread::sleep_for(milliseconds(20));
  }
  return false;
}

std::int64_t stationTime(const JsonDocument& event) {
  if (!event.is_object()) return 0;
  if (const auto t = event.find("t");
      t != event.end() && t->is_number_integer() && event.contains("slots")) {
    return t->get<std::int64_t>();
  }
  for (const auto& [key, value] : event.items()) {
    if (value.is_object()) {
      if (const std::int64_t nested = stationTime(value); nested > 0) return nested;
    }
  }
  return 0;
}

ProcessSampler::ProcessSampler(pid_t line) : line_(line) {
  sample();
}

void ProcessSampler::sample() {
  samples_.push_back({steady_clock::now(), cpuSeconds(std::to_string(line_)), databaseCpuSeconds(),
                      residentMiB(line_)});
}

ProcessFigures ProcessSampler::figures() const {
  ProcessFigures figures;
  if (samples_.size() < 2) return figures;
  const Sample& first = samples_.front();
  const Sample& last = samples_.back();
  figures.lineCpuSeconds = last.lineCpu - first.lineCpu;
  figures.databaseCpuSeconds = last.databaseCpu - first.databaseCpu;
  figures.sampledSeconds = duration<double>(last.at - first.at).count();
  // Warmed up once a sixth of the run has gone: the pools and buffers the
  // line keeps are full by then, and what grows after that is a leak.
  figures.rssAfterWarmUpMiB = samples_[samples_.size() / 6].rssMiB;
  figures.rssEndMiB = last.rssMiB;
  for (const Sample& sample : samples_)
    figures.rssMaxMiB = std::max(figures.rssMaxMiB, sample.rssMiB);
  return figures;
}

void printLineLoad(const LineLoadFigures& figures) {
  const double accepted = static_cast<double>(figures.sent) / figures.wallSeconds;
  const ProcessFigures& process = figures.process;
  const double seconds = process.sampledSeconds > 0 ? process.sampledSeconds : figures.wallSeconds;
  std::printf("records accepted    %llu in %.1f s: %.0f/s, %.2f of the target %d/s\n",
              static_cast<unsigned long long>(figures.sent), figures.wallSeconds, accepted,
              accepted / figures.targetPerSecond, figures.targetPerSecond);
  std::printf("posts               %llu (%.1f records each), %llu not taken\n",
              static_cast<unsigned long long>(figures.posts),
              figures.posts ? static_cast<double>(figures.sent) / figures.posts : 0.0,
              static_cast<unsigned long long>(figures.refused));
  std::printf("post latency        p50 %.1f ms, p99 %.1f ms, max %.1f ms\n",
              percentile(figures.postMs, 0.5), percentile(figures.postMs, 0.99),
              percentile(figures.postMs, 1.0));
  std::printf("in the export       %llu runs; lost %llu, duplicated %llu\n",
              static_cast<unsigned long long>(figures.exported),
              static_cast<unsigned long long>(figures.lost),
              static_cast<unsigned long long>(figures.duplicated));
  std::printf(
      "line CPU            %.0f %% of a core (%.2f core-seconds per 1000 records)\n",
      100.0 * process.lineCpuSeconds / seconds,
      accepted > 0 ? 1000.0 * process.lineCpuSeconds / static_cast<double>(figures.sent) : 0.0);
  std::printf("database CPU        %.0f %% of a core\n",
              100.0 * process.databaseCpuSeconds / seconds);
  std::printf(
      "line memory         %.1f MiB after warm-up, %.1f MiB at the end (%.2f), max %.1f MiB\n",
      process.rssAfterWarmUpMiB, process.rssEndMiB,
      process.rssAfterWarmUpMiB > 0 ? process.rssEndMiB / process.rssAfterWarmUpMiB : 0.0,
      process.rssMaxMiB);
  std::printf(
      "event streams       %zu; events each min %.0f, max %.0f; state to browser p50 %.1f ms, "
      "p99 %.1f ms\n",
      figures.streamEvents.size(), percentile(figures.streamEvents, 0.0),
      percentile(figures.streamEvents, 1.0), percentile(figures.streamDelayMs, 0.5),
      percentile(figures.streamDelayMs, 0.99));
  for (const std::string& error : figures.errors) std::printf("  last error: %s\n", error.c_str());
}

}  // namespace voltrix::bench

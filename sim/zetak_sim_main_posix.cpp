// zetak-sim: a simulated Zetak loader on a pseudo-terminal, for trying
// Voltrix without a device, or many of them from one process. The first
// lines of output are the device paths.

#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/ProcessSignals.h"
#include "sim/DeviceLink.h"
#include "sim/SimOptions.h"
#include "sim/SimulatorRig.h"
#include "sim/ZetakSimulator.h"
#include "voltrix/Version.h"

namespace {

using namespace voltrix::sim;

// "end-of-run byte 'Z' (0x5A), 3278 bytes written into memory"
std::string summary(std::optional<std::uint8_t> endByte, std::size_t stored) {
  char line[160];
  if (endByte) {
    std::snprintf(line, sizeof line, "end-of-run byte '%c' (0x%02X), %zu bytes written into memory",
                  *endByte, *endByte, stored);
  } else {
    std::snprintf(line, sizeof line, "no end-of-run byte, %zu bytes written into memory", stored);
  }
  return line;
}

// The signals that end the program, blocked in every thread so that only
// sigwait takes them. Called before any thread exists.
sigset_t blockEndSignals() {
  // A shell starts background jobs with SIGINT ignored, and an ignored
  // signal never reaches sigwait; these two are ours to handle.
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  sigset_t endSignals;
  sigemptyset(&endSignals);
  sigaddset(&endSignals, SIGINT);
  sigaddset(&endSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return endSignals;
}

void waitForEndSignal(const sigset_t& endSignals) {
  int received = 0;
  while (sigwait(&endSignals, &received) != 0) {
  }
}

// Links already made, removed again on every path out.
class DeviceLinks {
 public:
  DeviceLinks() = default;
  DeviceLinks(const DeviceLinks&) = delete;
  DeviceLinks& operator=(const DeviceLinks&) = delete;
  ~DeviceLinks() {
    for (const auto& [link, target] : links_) removeDeviceLink(link, target);
  }
  bool place(const std::string& link, const std::string& target) {
    if (!placeDeviceLink(link, target)) {
      std::fprintf(stderr, "zetak-sim: cannot make the link %s: %s\n", link.c_str(),
                   std::strerror(errno));
      return false;
    }
    links_.emplace_back(link, target);
    return true;
  }

 private:
  std::vector<std::pair<std::string, std::string>> links_;
};

int serveOne(const SimOptions& options, const sigset_t& endSignals) {
  ZetakSimulator simulator(options.config);
  if (!simulator.start()) {
    std::fprintf(stderr, "zetak-sim: cannot create the pseudo-terminal: %s\n",
                 std::strerror(errno));
    return 1;
  }
  {
    DeviceLinks links;
    if (options.comNumber && !links.place(deviceLinkPath(options.linkDirectory, *options.comNumber),
                                          simulator.devicePath())) {
      return 1;
    }
    std::printf("%s\n", simulator.devicePath().c_str());
    std::fflush(stdout);
    waitForEndSignal(endSignals);
    simulator.stop();
  }
  std::printf("zetak-sim: %s\n",
              summary(simulator.endOfRunByte(), simulator.memory().size()).c_str());
  return 0;
}

int serveRig(const SimOptions& options, const sigset_t& endSignals) {
  SimulatorRig rig(deviceConfigs(options));
  if (!rig.start()) {
    std::fprintf(stderr, "zetak-sim: cannot create %zu pseudo-terminals: %s\n", rig.size(),
                 std::strerror(errno));
    return 1;
  }
  {
    DeviceLinks links;
    for (std::size_t i = 0; i < rig.size() && options.comNumber; ++i) {
      const auto number = static_cast<std::uint32_t>(*options.comNumber + i);
      if (!links.place(deviceLinkPath(options.linkDirectory, number), rig.devicePath(i))) return 1;
    }
    for (std::size_t i = 0; i < rig.size(); ++i) std::printf("%s\n", rig.devicePath(i).c_str());
    std::fflush(stdout);
    waitForEndSignal(endSignals);
    rig.stop();
  }
  for (std::size_t i = 0; i < rig.size(); ++i) {
    std::printf("zetak-sim: device %zu: %s\n", i + 1,
                summary(rig.endOfRunByte(i), rig.storedBytes(i)).c_str());
  }
  const ReleaseLateness lateness = rig.lateness();
  std::printf(
      "zetak-sim: %llu answers released %.1f us after their line time on average, "
      "%.1f us at most\n",
      static_cast<unsigned long long>(lateness.answers),
      static_cast<double>(lateness.mean.count()) / 1e3,
      static_cast<double>(lateness.worst.count()) / 1e3);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  voltrix::ensureStandardStreams();
  const SimOptionsResult parsed = parseSimOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.options) {
    std::fprintf(stderr, "zetak-sim: %s\nTry 'zetak-sim --help'.\n", parsed.error.c_str());
    return 2;
  }
  const SimOptions& options = *parsed.options;
  if (options.help) {
    std::fputs(simUsage().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("zetak-sim %s\n", voltrix::kVoltrixVersion);
    return 0;
  }

  const sigset_t endSignals = blockEndSignals();
  return options.deviceCount ? serveRig(options, endSignals) : serveOne(options, endSignals);
}

// zetak-sim: a simulated Zetak loader on a pseudo-terminal, for trying
// Voltrix without a device. The first line of output is the device path.

#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ProcessSignals.h"
#include "sim/DeviceLink.h"
#include "sim/SimOptions.h"
#include "sim/ZetakSimulator.h"
#include "voltrix/Version.h"

namespace {

using namespace voltrix::sim;

std::string summary(const ZetakSimulator& simulator) {
  char line[160];
  const std::size_t stored = simulator.memory().size();
  if (const auto endByte = simulator.endOfRunByte()) {
    std::snprintf(line, sizeof line,
                  "zetak-sim: end-of-run byte '%c' (0x%02X), %zu bytes written into memory",
                  *endByte, *endByte, stored);
  } else {
    std::snprintf(line, sizeof line, "zetak-sim: no end-of-run byte, %zu bytes written into memory",
                  stored);
  }
  return line;
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

  // Blocked before any thread exists, so every thread inherits the mask and
  // the signals are taken only by sigwait below.
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

  ZetakSimulator simulator(options.config);
  if (!simulator.start()) {
    std::fprintf(stderr, "zetak-sim: cannot create the pseudo-terminal: %s\n",
                 std::strerror(errno));
    return 1;
  }
  std::string linkPath;
  if (options.comNumber) {
    linkPath = deviceLinkPath(options.linkDirectory, *options.comNumber);
    if (!placeDeviceLink(linkPath, simulator.devicePath())) {
      std::fprintf(stderr, "zetak-sim: cannot make the link %s: %s\n", linkPath.c_str(),
                   std::strerror(errno));
      return 1;
    }
  }
  std::printf("%s\n", simulator.devicePath().c_str());
  std::fflush(stdout);

  int received = 0;
  while (sigwait(&endSignals, &received) != 0) {
  }

  simulator.stop();
  if (!linkPath.empty()) removeDeviceLink(linkPath, simulator.devicePath());
  std::printf("%s\n", summary(simulator).c_str());
  return 0;
}

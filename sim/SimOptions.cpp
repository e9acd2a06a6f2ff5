#include "sim/SimOptions.h"

#include <CLI/CLI.hpp>
#include <array>
#include <charconv>
#include <limits>
#include <utility>

#include "platform/CommandLine.h"

namespace voltrix::sim {

namespace {

constexpr std::uint32_t kMaxComNumber = 1024;
constexpr std::uint32_t kMaxDevices = 256;

constexpr std::array<std::pair<const char*, FaultKind>, 6> kFaultNames = {{
    {"refuse", FaultKind::Refuse},
    {"silence", FaultKind::Silence},
    {"hangup", FaultKind::HangUp},
    {"wrong-byte", FaultKind::WrongByte},
    {"short-block", FaultKind::ShortBlock},
    {"late-reply", FaultKind::LateReply},
}};

constexpr std::array<std::pair<const char*, SimStep>, 10> kStepNames = {{
    {"sync", SimStep::Sync},
    {"write-command", SimStep::WriteCommand},
    {"write-header", SimStep::WriteHeader},
    {"write-data", SimStep::WriteData},
    {"read-command", SimStep::ReadCommand},
    {"read-header", SimStep::ReadHeader},
    {"data-request", SimStep::DataRequest},
    {"read-ack", SimStep::ReadAck},
    {"abort", SimStep::Abort},
    {"end-of-run", SimStep::EndOfRun},
}};

template <typename Value, std::size_t N>
std::optional<Value> lookUp(const std::array<std::pair<const char*, Value>, N>& names,
                            const std::string& name) {
  for (const auto& [text, value] : names) {
    if (name == text) return value;
  }
  return std::nullopt;
}

// A whole decimal number within [low, high], nothing before or after it.
std::optional<std::uint32_t> parseNumber(const std::string& text, std::uint32_t low,
                                         std::uint32_t high) {
  std::uint32_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

std::vector<std::string> splitAtColons(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = text.find(':', start);
    parts.push_back(text.substr(start, colon - start));
    if (colon == std::string::npos) return parts;
    start = colon + 1;
  }
}

SimOptionsResult failure(std::string error) {
  return {std::nullopt, std::move(error)};
}

}  // namespace

std::optional<FaultPlan> parseFaultPlan(const std::string& text) {
  const std::vector<std::string> parts = splitAtColons(text);
  if (parts.size() < 2 || parts.size() > 4) return std::nullopt;
  const std::optional<FaultKind> kind = lookUp(kFaultNames, parts[0]);
  const std::optional<SimStep> step = lookUp(kStepNames, parts[1]);
  if (!kind || !step) return std::nullopt;
  FaultPlan plan;
  plan.kind = *kind;
  plan.step = *step;
  if (parts.size() >= 3) {
    const auto occurrence = parseNumber(parts[2], 1, std::numeric_limits<int>::max());
    if (!occurrence) return std::nullopt;
    plan.occurrence = static_cast<int>(*occurrence);
  }
  // Only a late reply has a delay, and it needs one to mean anything.
  if ((*kind == FaultKind::LateReply) != (parts.size() == 4)) return std::nullopt;
  if (parts.size() == 4) {
    const auto late = parseNumber(parts[3], 0, 3'600'000);
    if (!late) return std::nullopt;
    plan.lateBy = std::chrono::milliseconds(*late);
  }
  return plan;
}

SimOptionsResult parseSimOptions(const std::vector<std::string>& arguments) {
  CLI::App app;
  prepareCommandLine(app);
  SimOptions options;
  std::optional<std::string> baud, latency, refuseSyncs, fault, linkDirectory, com, devices,
      faultDevice;
  app.add_flag("-h,--help", options.help)->disable_flag_override();
  app.add_flag("-V,--version", options.version)->disable_flag_override();
  app.add_flag("--paced", options.config.paced)->disable_flag_override();
  app.add_option("--baud", baud);
  app.add_option("--latency-ms", latency);
  app.add_option("--refuse-syncs", refuseSyncs);
  app.add_option("--fault", fault);
  app.add_option("--link-dir", linkDirectory);
  app.add_option("--com", com);
  app.add_option("--devices", devices);
  app.add_option("--fault-device", faultDevice);
  if (std::string error = parseCommandLine(app, arguments); !error.empty()) {
    return failure(std::move(error));
  }
  if (baud) {
    const auto rate = parseNumber(*baud, 1, 4'000'000);
    if (!rate) return failure("--baud wants a rate from 1 to 4000000, not '" + *baud + "'");
    options.config.baudRate = *rate;
  }
  if (latency) {
    const auto milliseconds = parseNumber(*latency, 0, 3'600'000);
    if (!milliseconds) return failure("--latency-ms wants milliseconds, not '" + *latency + "'");
    options.config.replyLatency = std::chrono::milliseconds(*milliseconds);
  }
  if (refuseSyncs) {
    const auto count = parseNumber(*refuseSyncs, 0, std::numeric_limits<int>::max());
    if (!count) return failure("--refuse-syncs wants a count, not '" + *refuseSyncs + "'");
    options.config.refuseSyncs = static_cast<int>(*count);
  }
  if (fault) {
    const std::optional<FaultPlan> plan = parseFaultPlan(*fault);
    if (!plan) return failure("--fault wants KIND:STEP[:N[:LATE_MS]], not '" + *fault + "'");
    options.config.fault = *plan;
  }
  if (linkDirectory) {
    if (linkDirectory->empty()) return failure("--link-dir wants a directory");
    options.linkDirectory = *linkDirectory;
  }
  if (com) {
    const auto number = parseNumber(*com, 1, kMaxComNumber);
    if (!number) return failure("--com wants a port number from 1 to 1024, not '" + *com + "'");
    options.comNumber = *number;
  }
  if (devices) {
    options.deviceCount = parseNumber(*devices, 1, kMaxDevices);
    if (!options.deviceCount) {
      return failure("--devices wants a count from 1 to 256, not '" + *devices + "'");
    }
  }
  if (faultDevice) {
    if (!options.deviceCount || !fault) {
      return failure("--fault-device goes with --devices and --fault");
    }
    const std::uint32_t last = *options.deviceCount;
    options.faultDevice = parseNumber(*faultDevice, 1, last);
    if (!options.faultDevice) {
      return failure("--fault-device wants a device from 1 to " + std::to_string(last) + ", not '" +
                     *faultDevice + "'");
    }
  }
  const bool asked = options.help || options.version;
  if (asked) return {options, {}};
  if (options.linkDirectory.empty() != !options.comNumber.has_value()) {
    return failure("--link-dir and --com go together");
  }
  const std::uint32_t count = options.deviceCount.value_or(1);
  if (options.comNumber && *options.comNumber + count - 1 > kMaxComNumber) {
    return failure("--com " + std::to_string(*options.comNumber) + " leaves no room for " +
                   std::to_string(count) + " devices up to COM1024");
  }
  return {options, {}};
}

std::vector<SimConfig> deviceConfigs(const SimOptions& options) {
  std::vector<SimConfig> configs(options.deviceCount.value_or(1), options.config);
  if (options.faultDevice) {
    for (std::size_t i = 0; i < configs.size(); ++i) {
      if (i + 1 != *options.faultDevice) configs[i].fault = FaultPlan{};
    }
  }
  return configs;
}

std::string simUsage() {
  return "Usage: zetak-sim [options]\n"
         "Simulates a Zetak loader on a pseudo-terminal. Prints the device path on the\n"
         "first line, serves until SIGINT or SIGTERM, then prints a summary line.\n"
         "With --devices N it serves N loaders from one thread: N device paths, one a\n"
         "line, and at the end one summary line per device and one on the timing.\n"
         "\n"
         "  --baud N              line rate for --paced (default 57600)\n"
         "  --paced               every byte takes ten bit times, both directions\n"
         "  --latency-ms N        wait N ms before every answer\n"
         "  --refuse-syncs K      answer the first K sync requests with a refusal\n"
         "  --fault KIND:STEP[:N[:LATE_MS]]\n"
         "                        spoil the N-th (default first) arrival of STEP\n"
         "                        KIND: refuse silence hangup wrong-byte short-block\n"
         "                              late-reply (needs LATE_MS)\n"
         "                        STEP: sync write-command write-header write-data\n"
         "                              read-command read-header data-request read-ack\n"
         "                              abort end-of-run\n"
         "  --link-dir DIR --com N\n"
         "                        make DIR/COM<N> a link to the device (replacing an\n"
         "                        old one); point VOLTRIX_DOSDEVICES at DIR; with\n"
         "                        --devices, COM<N>, COM<N+1>, ... in device order\n"
         "  --devices N           serve N devices (1 to 256) with the same knobs\n"
         "  --fault-device K      with --devices: only device K (from 1) has the --fault\n"
         "  -h, --help            show this text\n"
         "  -V, --version         show the version\n"
         "\n"
         "Options take their value as the next word or after '=' (--baud=9600).\n";
}

}  // namespace voltrix::sim

#include "sim/SimOptions.h"

#include <array>
#include <charconv>
#include <limits>
#include <utility>

namespace voltrix::sim {

namespace {

constexpr std::uint32_t kMaxComNumber = 1024;

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

bool takesValue(const std::string& name) {
  for (const char* option :
       {"--baud", "--latency-ms", "--refuse-syncs", "--fault", "--link-dir", "--com"}) {
    if (name == option) return true;
  }
  return false;
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
  SimOptions options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string name = arguments[i];
    std::optional<std::string> inlineValue;
    if (const std::size_t equals = name.find('=');
        name.rfind("--", 0) == 0 && equals != name.npos) {
      inlineValue = name.substr(equals + 1);
      name.resize(equals);
    }
    // Every option begins with a dash; anything else is a stray word (the
    // value of a flag that takes none, say), not an option missing its value.
    if (name.empty() || name[0] != '-') return failure("unknown argument '" + name + "'");
    const bool flag = name == "--help" || name == "-h" || name == "--paced";
    if (flag) {
      if (inlineValue) return failure(name + " takes no value");
      if (name == "--paced") {
        options.config.paced = true;
      } else {
        options.help = true;
      }
      continue;
    }
    if (!takesValue(name)) return failure("unknown option '" + name + "'");
    std::string value;
    if (inlineValue) {
      value = *inlineValue;
    } else if (i + 1 < arguments.size()) {
      value = arguments[++i];
    } else {
      return failure(name + " needs a value");
    }

    if (name == "--baud") {
      const auto baud = parseNumber(value, 1, 4'000'000);
      if (!baud) return failure("--baud wants a rate from 1 to 4000000, not '" + value + "'");
      options.config.baudRate = *baud;
    } else if (name == "--latency-ms") {
      const auto latency = parseNumber(value, 0, 3'600'000);
      if (!latency) return failure("--latency-ms wants milliseconds, not '" + value + "'");
      options.config.replyLatency = std::chrono::milliseconds(*latency);
    } else if (name == "--refuse-syncs") {
      const auto count = parseNumber(value, 0, std::numeric_limits<int>::max());
      if (!count) return failure("--refuse-syncs wants a count, not '" + value + "'");
      options.config.refuseSyncs = static_cast<int>(*count);
    } else if (name == "--fault") {
      const std::optional<FaultPlan> plan = parseFaultPlan(value);
      if (!plan) return failure("--fault wants KIND:STEP[:N[:LATE_MS]], not '" + value + "'");
      options.config.fault = *plan;
    } else if (name == "--link-dir") {
      if (value.empty()) return failure("--link-dir wants a directory");
      options.linkDirectory = value;
    } else {  // --com, the last of takesValue's names
      const auto number = parseNumber(value, 1, kMaxComNumber);
      if (!number) return failure("--com wants a port number from 1 to 1024, not '" + value + "'");
      options.comNumber = *number;
    }
  }
  if (!options.help && options.linkDirectory.empty() != !options.comNumber.has_value()) {
    return failure("--link-dir and --com go together");
  }
  return {options, {}};
}

std::string simUsage() {
  return "Usage: zetak-sim [options]\n"
         "Simulates a Zetak loader on a pseudo-terminal. Prints the device path on the\n"
         "first line, serves until SIGINT or SIGTERM, then prints a summary line.\n"
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
         "                        old one); point VOLTRIX_DOSDEVICES at DIR\n"
         "  --help                show this text\n";
}

}  // namespace voltrix::sim

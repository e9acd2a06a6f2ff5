#include "cli/CliOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace voltrix::cli {

namespace {

ParsedOptions usageError(std::string error) {
  return {std::nullopt, std::move(error)};
}

// A number of seconds above 0 and at most `most`; empty for anything else.
std::optional<double> secondsIn(const char* text, double most) {
  errno = 0;
  char* end = nullptr;
  const double seconds = std::strtod(text, &end);
  if (errno != 0 || end == text || *end != '\0' || !std::isfinite(seconds) || seconds <= 0 ||
      seconds > most) {
    return std::nullopt;
  }
  return seconds;
}

// A count of devices: a whole number from 1 to 100000; empty for anything else.
std::optional<int> countIn(const char* text) {
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < 1 || value > 100000) {
    return std::nullopt;
  }
  return static_cast<int>(value);
}

}  // namespace

ParsedOptions parseOptions(int argc, const char* const* argv) {
  CliOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      options.action = CliOptions::Action::Help;
    } else if (arg == "--version") {
      options.action = CliOptions::Action::Version;
    } else if (arg == "--list") {
      options.action = CliOptions::Action::List;
      if (hasValue && std::string(argv[i + 1]).rfind("--", 0) != 0) options.listFile = argv[++i];
    } else if (arg == "--port") {
      if (!hasValue || argv[i + 1][0] == '\0') return usageError("--port wants a device node");
      const std::string port = argv[++i];
      for (const std::string& given : options.ports) {
        if (given == port) return usageError("--port '" + port + "' given twice");
      }
      options.ports.push_back(port);
      options.port = options.ports.front();
    } else if (arg == "--all") {
      options.all = true;
    } else if (arg == "--watch") {
      options.watch = true;
    } else if (arg == "--wait") {
      options.watch = true;
      if (!options.count) options.count = 1;
    } else if (arg == "--count") {
      if (!hasValue) return usageError("--count wants a number of devices");
      options.count = countIn(argv[++i]);
      if (!options.count) {
        return usageError(std::string("--count wants a number from 1 to 100000, not '") + argv[i] +
                          "'");
      }
    } else if (arg == "--label") {
      const std::string label = hasValue ? argv[i + 1] : "";
      const auto equals = label.find('=');
      if (equals == std::string::npos || equals == 0 || equals + 1 == label.size()) {
        return usageError("--label wants PATH=NAME");
      }
      ++i;
      options.labels.emplace_back(label.substr(0, equals), label.substr(equals + 1));
    } else if (arg == "--log") {
      if (!hasValue || argv[i + 1][0] == '\0') return usageError("--log wants a file");
      options.logFile = argv[++i];
    } else if (arg == "--station") {
      if (!hasValue || argv[i + 1][0] == '\0') return usageError("--station wants a name");
      options.station = argv[++i];
    } else if (arg == "--check") {
      options.action = CliOptions::Action::Check;
    } else if (arg == "--timeout") {
      if (!hasValue) return usageError("--timeout wants a number of seconds");
      options.timeoutSeconds = secondsIn(argv[++i], 86400);
      if (!options.timeoutSeconds) {
        return usageError(std::string("--timeout wants seconds above 0, at most 86400, not '") +
                          argv[i] + "'");
      }
    } else if (arg == "--reply-timeout") {
      if (!hasValue) return usageError("--reply-timeout wants a number of seconds");
      const auto seconds = secondsIn(argv[++i], 3600);
      if (!seconds) {
        return usageError(
            std::string("--reply-timeout wants seconds above 0, at most 3600, not '") + argv[i] +
            "'");
      }
      options.replyTimeoutSeconds = *seconds;
    } else if (arg == "--quiet" || arg == "-q") {
      options.output = CliOptions::Output::Quiet;
    } else if (arg == "--json") {
      options.output = CliOptions::Output::Json;
    } else if (arg == "--verbose" || arg == "-v") {
      options.verbose = true;
    } else {
      return usageError("unknown option '" + arg + "'");
    }
  }
  if (options.all && !options.ports.empty()) {
    return usageError("--all and --port exclude each other");
  }
  if (options.count && !options.watch) return usageError("--count needs --watch");
  if (options.watch && !options.ports.empty()) {
    return usageError("--watch takes the devices of the device map, not --port");
  }
  if (!options.stationRun()) {
    if (!options.labels.empty()) return usageError("--label needs several devices or --watch");
  } else {
    // Only a run on one given device goes by --port alone.
    options.port.reset();
  }
  return {options, {}};
}

void printUsage(std::FILE* out) {
  std::fputs(
      "Usage: voltrix-cli [OPTION]...\n"
      "Write the firmware image sysbin.bin of the working directory into a Zetak device,\n"
      "read it back and verify it.\n"
      "\n"
      "  --port DEVICE      use this device node (e.g. /dev/ttyACM0) instead of the\n"
      "                     device map; repeat it to flash several devices at once\n"
      "  --all              flash every USB virtual COM port of the device map at once\n"
      "  --watch            flash every device of the device map and each one that\n"
      "                     appears later, once until it is unplugged (Ctrl+C ends)\n"
      "  --count N          with --watch: end after N devices\n"
      "  --wait             the same as --watch --count 1\n"
      "  --label PATH=NAME  show the slot PATH (its /dev/serial/by-path name, or the\n"
      "                     port) as NAME; may be repeated\n"
      "  --log FILE         append one JSON line per device and attempt to FILE\n"
      "  --station NAME     the station's name in the log (default: the host name)\n"
      "  --check            tell for each device whether it can be opened, and why not\n"
      "  --timeout SECONDS  give up when the device has not accepted the download\n"
      "                     within SECONDS (default: ask until it does or Ctrl+C)\n"
      "  --reply-timeout SECONDS\n"
      "                     the longest wait for any one answer of the device\n"
      "                     (default 5; more for a device with slow flash)\n"
      "  -q, --quiet        print only the summary line at the end\n"
      "  --json             print only the summary, as one JSON object\n"
      "  -v, --verbose      trace every byte sent and received on standard error\n"
      "  --list [FILE]      list the segments of an image (default sysbin.bin)\n"
      "  --help             show this help\n"
      "  --version          show the version\n"
      "\n"
      "Without --port the device is looked up like the dialog does: the first USB\n"
      "virtual COM port (or the map in $VOLTRIX_SERIALCOMM). Ctrl+C cancels a run.\n"
      "A device that stops answering ends the run after 5 seconds (--reply-timeout).\n"
      "Every run ends with one summary line: the result, the port, the segments,\n"
      "the bytes and the seconds taken; a run on several devices ends with a table\n"
      "of them, one row per device.\n"
      "\n"
      "Exit status:\n"
      "   0  every segment written and verified\n"
      "   1  internal error (the download could not be started)\n"
      "   2  bad command line\n"
      "   3  sysbin.bin missing or unreadable\n"
      "   4  sysbin.bin holds no segment, more than 128, or a damaged segment\n"
      "   5  no device attached (or the device map cannot be read)\n"
      "   6  the serial port cannot be opened (permission, held by another program)\n"
      "   7  the device refused a block\n"
      "   8  the device did not answer (also when --timeout ran out) or went away\n"
      "   9  the data read back differ from the image\n"
      "  10  a temporary file could not be written or read\n"
      "  11  cancelled with Ctrl+C\n"
      "\n"
      "With several devices the exit status is the worst of theirs, in this order\n"
      "(worst first): 9, 7, 10, 1, 8, 6, 11, 0.\n",
      out);
}

}  // namespace voltrix::cli

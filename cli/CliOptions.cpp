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
      options.port = argv[++i];
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
    } else {
      return usageError("unknown option '" + arg + "'");
    }
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
      "                     device map\n"
      "  --timeout SECONDS  give up when the device has not accepted the download\n"
      "                     within SECONDS (default: ask until it does or Ctrl+C)\n"
      "  --reply-timeout SECONDS\n"
      "                     the longest wait for any one answer of the device\n"
      "                     (default 5; more for a device with slow flash)\n"
      "  -q, --quiet        print only the summary line at the end\n"
      "  --json             print only the summary, as one JSON object\n"
      "  --list [FILE]      list the segments of an image (default sysbin.bin)\n"
      "  --help             show this help\n"
      "  --version          show the version\n"
      "\n"
      "Without --port the device is looked up like the dialog does: the first USB\n"
      "virtual COM port (or the map in $VOLTRIX_SERIALCOMM). Ctrl+C cancels a run.\n"
      "A device that stops answering ends the run after 5 seconds (--reply-timeout).\n"
      "Every run ends with one summary line: the result, the port, the segments,\n"
      "the bytes and the seconds taken.\n"
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
      "  11  cancelled with Ctrl+C\n",
      out);
}

}  // namespace voltrix::cli

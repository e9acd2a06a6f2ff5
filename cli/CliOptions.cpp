#include "cli/CliOptions.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <map>

#include "cli/SinceTime.h"
#include "control/ExitCodes.h"
#include "control/PlatformExamples.h"
#include "platform/CommandLine.h"
#include "platform/Utf8Path.h"
#include "record/ResultsStore.h"

namespace voltrix::cli {

namespace {

constexpr char kByPathFolder[] = "/dev/serial/by-path/";

ParsedOptions usageError(std::string error) {
  return {std::nullopt, std::move(error)};
}

// A number of seconds above 0 and at most `most`; empty for anything else.
std::optional<double> secondsIn(const std::string& text, double most) {
  errno = 0;
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (errno != 0 || end == text.c_str() || *end != '\0' || !std::isfinite(seconds) ||
      seconds <= 0 || seconds > most) {
    return std::nullopt;
  }
  return seconds;
}

// A count of devices: a whole number from 1 to 100000; empty for anything else.
std::optional<int> countIn(const std::string& text) {
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0' || value < 1 || value > 100000) {
    return std::nullopt;
  }
  return static_cast<int>(value);
}

// --runs reads this database of the working directory unless --db names one.
constexpr char kDefaultDatabase[] = "voltrix.db";

// Whether two paths name one file (or would, once made).
bool sameFile(const std::string& one, const std::string& other) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (fs::equivalent(pathFromUtf8(one), pathFromUtf8(other), error)) return true;
  const auto normal = [](const std::string& path) {
    std::error_code ignored;
    return fs::absolute(pathFromUtf8(path), ignored).lexically_normal();
  };
  return normal(one) == normal(other);
}

std::string noDatabaseText(const std::string& option) {
  return option + " needs the results database, which this build of voltrix-cli does not have";
}

std::string missingValueText(const std::string& option) {
  static const std::map<std::string, std::string> wants = {
      {"--port", "a device node"},
      {"--count", "a number of devices"},
      {"--label", "PATH=NAME"},
      {"--log", "a file"},
      {"--station", "a name"},
      {"--timeout", "a number of seconds"},
      {"--reply-timeout", "a number of seconds"},
      {"--image", "a file"},
      {"--db", "a file"},
      {"--since", "a time (2026-12-09T06:00, 2026-12-09) or a duration (8h, 30m)"},
      {"--serve", "ADDR:PORT"},
      {"--token-file", "a file"},
      {"--line", "a URL (http://HOST:PORT or https://...)"},
      {"--line-token-file", "a file"},
      {"--line-ca", "a file"},
      {"--trust-key", "a public key file"},
      {"--job-folder", "a folder"},
  };
  const auto found = wants.find(option);
  return option + (found != wants.end() ? " wants " + found->second : " needs a value");
}

// What the command line said, before its meaning is checked.
struct Given {
  bool help = false, version = false, check = false, all = false, watch = false, wait = false;
  bool quiet = false, json = false, verbose = false, runs = false, csv = false;
  std::optional<std::string> list, image, count, log, station, timeout, replyTimeout, db, since;
  std::optional<std::string> serve, tokenFile, line, lineTokenFile, lineCa, jobFolder;
  std::vector<std::string> ports, labels, trustKeys;
};

void bind(CLI::App& app, Given& given) {
  app.add_flag("-h,--help", given.help);
  app.add_flag("-V,--version", given.version);
  app.add_option("--list", given.list)->expected(0, 1);
  app.add_flag("--check", given.check);
  app.add_option("-p,--port", given.ports)
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_flag("--all", given.all);
  app.add_flag("--watch", given.watch);
  app.add_flag("--wait", given.wait);
  app.add_option("--count", given.count);
  app.add_option("--label", given.labels)
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--log", given.log);
  app.add_option("--station", given.station);
  app.add_option("--timeout", given.timeout);
  app.add_option("--reply-timeout", given.replyTimeout);
  app.add_flag("-q,--quiet", given.quiet);
  app.add_flag("--json", given.json);
  app.add_flag("-v,--verbose", given.verbose);
  app.add_option("--image", given.image);
  app.add_flag("--runs", given.runs);
  app.add_option("--db", given.db);
  app.add_option("--since", given.since);
  app.add_flag("--csv", given.csv);
  app.add_option("--serve", given.serve);
  app.add_option("--token-file", given.tokenFile);
  app.add_option("--line", given.line);
  app.add_option("--line-token-file", given.lineTokenFile);
  app.add_option("--line-ca", given.lineCa);
  app.add_option("--trust-key", given.trustKeys)
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--job-folder", given.jobFolder);
  for (CLI::Option* option : app.get_options()) {
    if (option->get_expected_min() == 0) option->disable_flag_override();
  }
}

// The options given that a mode makes no use of, in the order of the help.
std::optional<std::string> firstUnused(const Given& given,
                                       std::initializer_list<const char*> used) {
  const std::pair<const char*, bool> options[] = {
      {"--port", !given.ports.empty()},
      {"--all", given.all},
      {"--watch", given.watch},
      {"--count", given.count.has_value()},
      {"--wait", given.wait},
      {"--label", !given.labels.empty()},
      {"--log", given.log.has_value()},
      {"--station", given.station.has_value()},
      {"--timeout", given.timeout.has_value()},
      {"--reply-timeout", given.replyTimeout.has_value()},
      {"--quiet", given.quiet},
      {"--json", given.json},
      {"--image", given.image.has_value()},
      {"--db", given.db.has_value()},
      {"--since", given.since.has_value()},
      {"--csv", given.csv},
      {"--serve", given.serve.has_value()},
      {"--token-file", given.tokenFile.has_value()},
      {"--line", given.line.has_value()},
      {"--line-token-file", given.lineTokenFile.has_value()},
      {"--line-ca", given.lineCa.has_value()},
      {"--trust-key", !given.trustKeys.empty()},
      {"--job-folder", given.jobFolder.has_value()},
  };
  for (const auto& [name, present] : options) {
    if (!present) continue;
    bool allowed = false;
    for (const char* use : used) allowed = allowed || std::string(use) == name;
    if (!allowed) return std::string(name);
  }
  return std::nullopt;
}

// A slot's path the way labels compare: without the by-path folder.
std::string slotKey(const std::string& path) {
  return path.rfind(kByPathFolder, 0) == 0 ? path.substr(sizeof kByPathFolder - 1) : path;
}

std::optional<std::string> takeLabels(const std::vector<std::string>& given, CliOptions& options) {
  std::map<std::string, std::string> nameOfPath;
  std::map<std::string, std::string> pathOfName;
  for (const std::string& label : given) {
    const auto equals = label.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == label.size()) {
      return "--label wants PATH=NAME, not '" + label + "'";
    }
    std::string path = label.substr(0, equals);
    std::string name = label.substr(equals + 1);
    if (const auto twice = nameOfPath.find(slotKey(path)); twice != nameOfPath.end()) {
      return "--label: the slot " + path + " is labelled twice ('" + twice->second + "' and '" +
             name + "')";
    }
    if (const auto taken = pathOfName.find(name); taken != pathOfName.end()) {
      return "--label: the name '" + name + "' is given to two slots (" + taken->second + " and " +
             path + ")";
    }
    nameOfPath[slotKey(path)] = name;
    pathOfName[name] = path;
    options.labels.emplace_back(std::move(path), std::move(name));
  }
  return std::nullopt;
}

std::optional<std::string> takeListOrCheck(const Given& given, CliOptions& options) {
  if (given.list && given.check) return "--list and --check exclude each other";
  if (given.runs)
    return std::string(given.list ? "--list" : "--check") + " and --runs exclude each other";
  if (given.list) {
    options.action = CliOptions::Action::List;
    if (!given.list->empty() && given.image) {
      return "--list " + *given.list + " and --image " + *given.image +
             " name two images: give one";
    }
    if (!given.list->empty()) options.image = *given.list;
    if (const auto unused = firstUnused(given, {"--image"})) {
      return *unused + " has no effect with --list";
    }
  } else {
    options.action = CliOptions::Action::Check;
    if (const auto unused = firstUnused(given, {"--port", "--all", "--json"})) {
      return *unused + " has no effect with --check";
    }
    if (given.all && !given.ports.empty()) return "--all and --port exclude each other";
    options.ports = given.ports;
    if (given.json) options.output = CliOptions::Output::Json;
  }
  return std::nullopt;
}

// The line is checked and its token read when the station starts.
std::optional<std::string> takeLine(const Given& given, CliOptions& options) {
  if (given.lineTokenFile && !given.line) return "--line-token-file is the token for --line";
  if (given.lineCa && !given.line) return "--line-ca is the CA of an https --line";
  if (!given.line) return std::nullopt;
  if (given.line->empty()) return "--line wants a URL (http://HOST:PORT or https://...)";
  if (!options.stationRun()) return "--line needs several devices, --all or --watch";
  // The log is the outbox: a record goes up once the log kept it.
  if (!options.logFile) {
    return "--line sends the records of the station's log: it needs --log FILE (or --db FILE)";
  }
  if (!given.lineTokenFile || given.lineTokenFile->empty()) {
    return "--line needs --line-token-file FILE, the station's token for the line";
  }
  if (given.lineCa && given.lineCa->empty()) return "--line-ca wants a file";
  options.line = *given.line;
  options.lineTokenFile = *given.lineTokenFile;
  options.lineCa = given.lineCa;
  return std::nullopt;
}

// Signed jobs: the keys are read, and the last good job restored, when the
// station starts. The kept images go beside the log unless told otherwise.
std::optional<std::string> takeJobs(const Given& given, CliOptions& options) {
  if (given.jobFolder && given.trustKeys.empty()) {
    return "--job-folder keeps the jobs taken with --trust-key FILE";
  }
  if (given.trustKeys.empty()) return std::nullopt;
  if (!signedJobsBuilt()) return "--trust-key: this build has no signed jobs";
  for (const std::string& key : given.trustKeys) {
    if (key.empty()) return "--trust-key wants a public key file";
  }
  if (!options.stationRun()) return "--trust-key needs several devices, --all or --watch";
  if (given.jobFolder) {
    if (given.jobFolder->empty()) return "--job-folder wants a folder";
    options.jobFolder = *given.jobFolder;
  } else if (options.logFile) {
    const std::filesystem::path beside =
        pathFromUtf8(*options.logFile).parent_path() / "voltrix-jobs";
    options.jobFolder = utf8FromPath(beside);
  } else {
    return "--trust-key keeps the jobs in a folder: give --job-folder DIR or --log FILE";
  }
  options.trustKeys = given.trustKeys;
  return std::nullopt;
}

std::optional<std::string> takeDownload(const Given& given, CliOptions& options) {
  for (const std::string& port : given.ports) {
    if (port.empty() || port[0] == '-') return "--port wants a device node, not '" + port + "'";
    for (const std::string& earlier : options.ports) {
      if (earlier == port) return "--port '" + port + "' given twice";
    }
    options.ports.push_back(port);
  }
  if (!options.ports.empty()) options.port = options.ports.front();
  options.all = given.all;
  options.watch = given.watch || given.wait;
  if (given.count) {
    options.count = countIn(*given.count);
    if (!options.count) {
      return "--count wants a number from 1 to 100000, not '" + *given.count + "'";
    }
  } else if (given.wait) {
    options.count = 1;
  }
  if (given.log) {
    if (given.log->empty()) return "--log wants a file";
    options.logFile = *given.log;
  }
  if (given.since) return "--since has no effect without --runs";
  if (given.csv) return "--csv has no effect without --runs";
  if (given.db) {
    if (given.db->empty()) return "--db wants a file";
    if (!resultsDatabaseBuilt()) return noDatabaseText("--db");
    options.dbFile = *given.db;
    // The log is the record of truth the database is caught up from.
    if (!options.logFile) options.logFile = *given.db + ".jsonl";
    if (sameFile(*options.logFile, *given.db)) {
      return "--db and --log name one file: the log's lines would damage the database";
    }
  }
  if (given.station) {
    if (given.station->empty()) return "--station wants a name";
    if (!options.logFile) return "--station names the station in the log: it needs --log FILE";
    options.station = *given.station;
  }
  if (given.timeout) {
    options.timeoutSeconds = secondsIn(*given.timeout, 86400);
    if (!options.timeoutSeconds) {
      return "--timeout wants seconds above 0, at most 86400, not '" + *given.timeout + "'";
    }
  }
  if (given.replyTimeout) {
    const auto seconds = secondsIn(*given.replyTimeout, 3600);
    if (!seconds) {
      return "--reply-timeout wants seconds above 0, at most 3600, not '" + *given.replyTimeout +
             "'";
    }
    options.replyTimeoutSeconds = *seconds;
  }
  if (given.quiet && given.json) return "--quiet and --json exclude each other";
  if (given.quiet) options.output = CliOptions::Output::Quiet;
  if (given.json) options.output = CliOptions::Output::Json;
  if (const auto unusable = takeLabels(given.labels, options)) return unusable;

  if (options.all && !options.ports.empty()) return "--all and --port exclude each other";
  if (options.count && !options.watch) return "--count needs --watch";
  if (options.watch && !options.ports.empty()) {
    return "--watch takes the devices of the device map, not --port";
  }
  if (options.watch && options.all) return "--watch already takes every device: drop --all";
  if (given.serve) {
    if (given.serve->empty()) return "--serve wants ADDR:PORT";
    if (!options.stationRun()) return "--serve needs several devices, --all or --watch";
    options.serve = *given.serve;
  }
  if (given.tokenFile) {
    if (given.tokenFile->empty()) return "--token-file wants a file";
    if (!given.serve) return "--token-file says who may use the service: it needs --serve";
    options.tokenFile = *given.tokenFile;
  }
  if (const auto unusable = takeLine(given, options)) return unusable;
  if (const auto unusable = takeJobs(given, options)) return unusable;
  if (!options.stationRun()) {
    if (!options.labels.empty()) return "--label needs several devices or --watch";
  } else {
    // Only a run on one given device goes by --port alone.
    options.port.reset();
  }
  return std::nullopt;
}

std::optional<std::string> takeRuns(const Given& given, CliOptions& options) {
  options.action = CliOptions::Action::Runs;
  if (const auto unused = firstUnused(given, {"--db", "--since", "--csv", "--json"})) {
    return *unused + " has no effect with --runs";
  }
  if (!resultsDatabaseBuilt()) return noDatabaseText("--runs");
  if (given.csv && given.json) return "--csv and --json exclude each other";
  if (given.db && given.db->empty()) return "--db wants a file";
  options.dbFile = given.db.value_or(kDefaultDatabase);
  if (given.since) {
    options.since = sinceTime(*given.since, std::chrono::system_clock::now());
    if (!options.since) {
      return "--since wants a time (2026-12-09T06:00, 2026-12-09, with or without Z) or a "
             "duration (8h, 30m), not '" +
             *given.since + "'";
    }
  }
  options.csv = given.csv;
  if (given.json) options.output = CliOptions::Output::Json;
  return std::nullopt;
}

}  // namespace

ParsedOptions parseOptions(int argc, const char* const* argv) {
  return parseOptions(std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
}

ParsedOptions parseOptions(std::vector<std::string> arguments) {
  CLI::App app;
  prepareCommandLine(app);
  Given given;
  bind(app, given);
  // "/?" is how a Windows console program is asked for its help.
  std::replace(arguments.begin(), arguments.end(), std::string("/?"), std::string("--help"));
  if (std::string error = parseCommandLine(app, arguments, missingValueText); !error.empty()) {
    return usageError(std::move(error));
  }
  CliOptions options;
  options.verbose = given.verbose;
  if (given.help || given.version) {
    options.action = given.help ? CliOptions::Action::Help : CliOptions::Action::Version;
    return {options, {}};
  }
  if (given.image) {
    if (given.image->empty()) return usageError("--image wants a file");
    options.image = *given.image;
  }
  std::optional<std::string> problem;
  if (given.list || given.check) {
    problem = takeListOrCheck(given, options);
  } else if (given.runs) {
    problem = takeRuns(given, options);
  } else {
    problem = takeDownload(given, options);
  }
  if (problem) return usageError(*problem);
  return {options, {}};
}

int reportUsageError(const std::string& message) {
  std::fprintf(stderr, "voltrix-cli: %s\n", message.c_str());
  std::fprintf(stderr, "Try 'voltrix-cli --help'.\n");
  return kExitUsage;
}

void printUsage(std::FILE* out) {
  const PlatformExamples& examples = platformExamples();
  std::fprintf(out,
               "Usage: voltrix-cli [OPTION]...\n"
               "Write a firmware image (sysbin.bin of the working directory, or --image FILE)\n"
               "into a Zetak device, read it back and verify it.\n"
               "\n"
               "  --image FILE       the image to write (default ./sysbin.bin)\n"
               "  -p, --port DEVICE  use this %s (e.g. %s) instead of the\n"
               "                     device map; repeat it to flash several devices at once\n"
               "  --all              flash every USB virtual COM port of the device map at once\n"
               "  --watch            flash every device of the device map and each one that\n"
               "                     appears later, once until it is unplugged (Ctrl+C ends)\n"
               "  --count N          with --watch: end after N devices\n"
               "  --wait             the same as --watch --count 1\n"
               "  --label PATH=NAME  %s\n"
               "  --log FILE         append one JSON line per device and attempt to FILE\n"
               "  --station NAME     the station's name in the log (default: the host name)\n"
               "  --db FILE          also keep the results in the SQLite database FILE; the log\n"
               "                     (--log, or FILE.jsonl beside it) is written first and the\n"
               "                     database catches up with it at every start\n"
               "  --runs             print the runs of the results database (--db, default\n"
               "                     ./voltrix.db), oldest first, as a table (--csv: CSV with an\n"
               "                     id column; --json: one stored record per line)\n"
               "  --since TIME       with --runs: only the runs that ended since TIME, as\n"
               "                     2026-12-09T06:00 or 2026-12-09 (local time; UTC with Z),\n"
               "                     or as a time ago: 8h, 30m\n"
               "  --check            tell for each device whether it can be opened, and why not\n"
               "                     (with --json: one JSON object per device)\n"
               "  --timeout SECONDS  give up when the device has not accepted the download\n"
               "                     within SECONDS (default: ask until it does or Ctrl+C)\n"
               "  --reply-timeout SECONDS\n"
               "                     the longest wait for any one answer of the device\n"
               "                     (default 5; more for a device with slow flash)\n"
               "  -q, --quiet        print only the summary line at the end\n"
               "  --json             print only the summary, as one JSON object\n"
               "  -v, --verbose      trace every byte exchanged with the device on stderr\n"
               "  --serve ADDR:PORT  with several devices or --watch: serve a dashboard, an\n"
               "                     API and metrics over HTTP (e.g. 127.0.0.1:8080)\n"
               "  --token-file FILE  'ROLE TOKEN' lines (viewer, operator) for --serve;\n"
               "                     without it the service is read-only, on loopback only\n"
               "  --line URL         with several devices or --watch and a log: send every\n"
               "                     record of the log and the live state to the line at URL\n"
               "                     (http://HOST:PORT[/PATH] or https://...); what it has not\n"
               "                     taken waits in the log, also across restarts\n"
               "  --line-token-file FILE\n"
               "                     the station's token for --line (its first line)\n"
               "  --line-ca FILE     the CA bundle of an https line's own certificate\n"
               "  --trust-key FILE   with several devices or --watch: take signed jobs checked\n"
               "                     with this public key (repeatable): the line's current\n"
               "                     job with --line, else the last one kept\n"
               "  --job-folder DIR   where the jobs taken are kept (default: voltrix-jobs\n"
               "                     beside the log)\n"
               "  --list [FILE]      list the segments of an image (default: --image, or\n"
               "                     sysbin.bin)\n"
               "  -h, --help, /?     show this help\n"
               "  -V, --version      show the version\n"
               "\n"
               "Options take their value as the next word or after '=' (--port=%s).\n"
               "An option that has no effect in the mode asked for is refused (exit 2).\n"
               "Without --port the device is looked up like the dialog does: the first USB\n"
               "virtual COM port (or the map in %s). Ctrl+C cancels a run.\n"
               "A device that stops answering ends the run after 5 seconds (--reply-timeout).\n"
               "Every run ends with one summary line: the result, the port, the segments,\n"
               "the bytes and the seconds taken; a run on several devices ends with a table\n"
               "of them, one row per device.\n",
               examples.portKind, examples.portExamples, examples.labelText, examples.port,
               examples.deviceMapVariable);
  std::fputs(
      "\n"
      "Exit status:\n"
      "   0  every segment written and verified\n"
      "   1  internal error (the download could not be started)\n"
      "   2  bad command line\n"
      "   3  the image missing or unreadable\n"
      "   4  the image holds no segment, more than 128, or a damaged segment\n"
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

namespace {

std::chrono::milliseconds millisecondsOf(double seconds) {
  return std::chrono::milliseconds(static_cast<long long>(seconds * 1000.0 + 0.5));
}

}  // namespace

LinkTimings linkTimingsFor(const CliOptions& options) {
  LinkTimings timings;
  timings.replyBound = millisecondsOf(options.replyTimeoutSeconds);
  if (options.timeoutSeconds) timings.handshakeLimit = millisecondsOf(*options.timeoutSeconds);
  return timings;
}

}  // namespace voltrix::cli

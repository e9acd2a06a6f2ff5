#pragma once
// The command line of voltrix-cli.

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "link/LinkSession.h"

namespace voltrix::cli {

struct CliOptions {
  enum class Action { Download, List, Help, Version, Check, Runs } action = Action::Download;
  // The image to download or list; --image FILE, or --list FILE.
  std::string image = "sysbin.bin";
  std::optional<std::string> port;  // the device node of a run on one given device
  std::vector<std::string> ports;   // every --port, in the order given
  bool all = false;                 // every USB virtual COM port of the device map
  bool watch = false;               // flash devices as they appear
  std::optional<int> count;         // end after this many devices
  std::vector<std::pair<std::string, std::string>> labels;  // slot or port -> operator's name
  std::optional<std::string> logFile;                       // where each attempt is recorded
  std::optional<std::string> station;                       // the station's name in the records
  std::optional<std::string> dbFile;                        // the results database
  // --runs: the runs that ended at or after this time (all when empty), as
  // a table, CSV (`csv`) or the stored records (Output::Json).
  std::optional<std::chrono::system_clock::time_point> since;
  bool csv = false;
  std::optional<double> timeoutSeconds;  // bound on the handshake
  double replyTimeoutSeconds = 5.0;      // bound on any one reply of the device
  // What the run prints: the status texts and the summary line, only the
  // summary line, or only the summary as one JSON object.
  enum class Output { Normal, Quiet, Json } output = Output::Normal;
  bool verbose = false;              // -v: a trace of the protocol's exchanges on standard error
  std::optional<std::string> serve;  // ADDR:PORT: the station served over HTTP
  std::optional<std::string> tokenFile;      // "ROLE TOKEN" lines: who may read and control
  std::optional<std::string> line;           // the line's URL: the records and state go there
  std::optional<std::string> lineTokenFile;  // the station's token for the line
  std::optional<std::string> lineCa;         // a CA bundle for an https line
  // The public keys a signed job must be signed with; given, the station
  // takes the line's current job (with --line) or the last one it kept.
  std::vector<std::string> trustKeys;
  std::string jobFolder;  // where the job images are kept (with --trust-key)

  // Whether the run takes several devices side by side (or waits for them)
  // instead of the one device the dialog would use.
  bool stationRun() const { return ports.size() > 1 || all || watch; }
};

struct ParsedOptions {
  std::optional<CliOptions> options;  // empty on a usage error
  std::string error;
};

// `arguments` are the words after the program's name, in UTF-8.
ParsedOptions parseOptions(std::vector<std::string> arguments);
// main()'s argc and argv, taken as they are.
ParsedOptions parseOptions(int argc, const char* const* argv);
void printUsage(std::FILE* out);

// The link's timings the options ask for: the reply bound and the
// handshake's limit.
LinkTimings linkTimingsFor(const CliOptions& options);

// Whether this build has signed jobs (libsodium): the Windows one has not.
bool signedJobsBuilt();

// A bad command line found after parsing: "voltrix-cli: <message>" and the
// hint to --help on standard error. Returns the exit code for it.
int reportUsageError(const std::string& message);

}  // namespace voltrix::cli

#pragma once
// The command line of voltrix-cli.

#include <cstdio>
#include <optional>
#include <string>

namespace voltrix::cli {

struct CliOptions {
  enum class Action { Download, List, Help, Version } action = Action::Download;
  std::string listFile = "sysbin.bin";
  std::optional<std::string> port;       // a device node instead of the device map
  std::optional<double> timeoutSeconds;  // bound on the handshake
  double replyTimeoutSeconds = 5.0;      // bound on any one reply of the device
  // What the run prints: the status texts and the summary line, only the
  // summary line, or only the summary as one JSON object.
  enum class Output { Normal, Quiet, Json } output = Output::Normal;
};

struct ParsedOptions {
  std::optional<CliOptions> options;  // empty on a usage error
  std::string error;
};

ParsedOptions parseOptions(int argc, const char* const* argv);
void printUsage(std::FILE* out);

}  // namespace voltrix::cli

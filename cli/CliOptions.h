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
};

struct ParsedOptions {
  std::optional<CliOptions> options;  // empty on a usage error
  std::string error;
};

ParsedOptions parseOptions(int argc, const char* const* argv);
void printUsage(std::FILE* out);

}  // namespace voltrix::cli

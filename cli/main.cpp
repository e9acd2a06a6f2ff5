#include <cstdio>

#include "app/ProcessSignals.h"
#include "cli/CliOptions.h"
#include "cli/DownloadRunner.h"
#include "cli/ExitCodes.h"
#include "cli/HostSystem.h"
#include "cli/ListCommand.h"
#include "voltrix/Version.h"

int main(int argc, char** argv) {
  using namespace voltrix::cli;
  voltrix::ensureStandardStreams();
  prepareStandardOutput();
  const ParsedOptions parsed = parseOptions(argc, argv);
  if (!parsed.options) {
    std::fprintf(stderr, "voltrix-cli: %s\n", parsed.error.c_str());
    std::fprintf(stderr, "Try 'voltrix-cli --help'.\n");
    return kExitUsage;
  }
  const CliOptions& options = *parsed.options;
  switch (options.action) {
    case CliOptions::Action::Help:
      printUsage(stdout);
      return kExitOk;
    case CliOptions::Action::Version:
      std::printf("voltrix-cli %s\n", voltrix::kVoltrixVersion);
      return kExitOk;
    case CliOptions::Action::List:
      return listSegments(options.listFile, stdout, stderr);
    case CliOptions::Action::Download:
      return runDownload(options);
  }
  return kExitUsage;
}

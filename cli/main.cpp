#include <cstdio>

#include "cli/CliOptions.h"
#include "cli/DownloadRunner.h"
#include "cli/HostSystem.h"
#include "cli/ListCommand.h"
#include "cli/Preflight.h"
#include "cli/RunsCommand.h"
#include "cli/StationRun.h"
#include "control/ExitCodes.h"
#include "platform/ProcessSignals.h"
#include "platform/ProgramArguments.h"
#include "station/StationTargets.h"
#include "voltrix/Version.h"

namespace {

using namespace voltrix;
using namespace voltrix::cli;

int runCommandLine(int argc, char** argv) {
  const ParsedOptions parsed = parseOptions(voltrix::programArguments(argc, argv));
  if (!parsed.options) return reportUsageError(parsed.error);
  const CliOptions& options = *parsed.options;
  switch (options.action) {
    case CliOptions::Action::Help:
      printUsage(stdout);
      return kExitOk;
    case CliOptions::Action::Version:
      std::printf("voltrix-cli %s\n", voltrix::kVoltrixVersion);
      return kExitOk;
    case CliOptions::Action::List:
      return listSegments(options.image, stdout, stderr);
    case CliOptions::Action::Check: {
      std::vector<std::string> devices = options.ports;
      if (devices.empty()) {
        for (const DeviceTarget& target :
             targetsOfMap(*voltrix::systemDeviceMap(), options.labels).targets) {
          if (!target.port.empty()) devices.push_back(target.port);
        }
      }
      return runPreflight(devices, stdout, options.output == CliOptions::Output::Json);
    }
    case CliOptions::Action::Runs:
      return printRuns(options, stdout, stderr);
    case CliOptions::Action::Download:
      return options.stationRun() ? runStation(options) : runDownload(options);
  }
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  voltrix::ensureStandardStreams();
  prepareStandardOutput();
  const int status = runCommandLine(argc, argv);
  holdOwnConsoleWindowOpen();
  return status;
}

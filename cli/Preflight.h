#pragma once
// voltrix-cli --check: whether each device can be used for a download now,
// and for each thing in the way, the command that clears it.

#include <cstdio>
#include <string>
#include <vector>

#include "cli/PreflightProbe.h"

namespace voltrix::cli {

struct PreflightProblem {
  std::string what;                // one sentence
  std::vector<std::string> fixes;  // commands, the first the usual one
  // A device that opens but runs slowly or may be taken by another program
  // later: it still counts as not ready.
};

// What stands in the way of a download on the device; none when it is ready.
std::vector<PreflightProblem> preflightProblems(const DeviceFacts& device, const HostFacts& host);

// Reports on every device to `out` and returns the exit code: 0 only when
// every device is ready; else that of the first device that is not: 5 when
// it does not exist (and when no device is given), 6 for anything else.
// With `json` each device is one JSON object on a line of its own (port,
// ready, exit_code, usb, problems with their fixes) and nothing else is
// printed; no device at all is one object whose port is null.
int runPreflight(const std::vector<std::string>& devicePaths, std::FILE* out, bool json = false);

// The same with the system's views read under `roots`.
int runPreflight(const std::vector<std::string>& devicePaths, std::FILE* out,
                 const PreflightRoots& roots, bool json = false);

}  // namespace voltrix::cli

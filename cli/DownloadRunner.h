#pragma once

#include "cli/CliOptions.h"

namespace voltrix::cli {

// One device's run, on the port given or the one the device map names, shown
// on the console and summed up on standard output.
// Returns the process exit code.
int runDownload(const CliOptions& options);

}  // namespace voltrix::cli

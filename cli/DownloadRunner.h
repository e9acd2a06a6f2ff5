#pragma once

#include "cli/CliOptions.h"

namespace voltrix::cli {

// One download through the DOWNLOAD command, shown on standard output.
// Returns the process exit code.
int runDownload(const CliOptions& options);

}  // namespace voltrix::cli

#pragma once
// A station run: several devices flashed side by side from one image, or
// every device that appears while the station watches. Returns the process
// exit code, the worst of the devices'.

#include "cli/CliOptions.h"

namespace voltrix::cli {

int runStation(const CliOptions& options);

}  // namespace voltrix::cli

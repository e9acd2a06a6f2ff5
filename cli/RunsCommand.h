#pragma once
// voltrix-cli --runs: the results of a shift from the results database, as
// a table for a person, CSV for a spreadsheet, or the stored records (one
// JSON line each, as the log holds them). Oldest first, newest last, as the
// log reads.

#include <cstdio>

#include "cli/CliOptions.h"

namespace voltrix::cli {

// Returns the exit code: 0, or 10 when the database cannot be read.
int printRuns(const CliOptions& options, std::FILE* out, std::FILE* err);

}  // namespace voltrix::cli

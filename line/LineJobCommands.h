#pragma once
// voltrix-line's part of signed jobs: the --keygen and --sign commands and
// the --trust-key files; a build without signed jobs refuses each of them.

#include <optional>
#include <string>
#include <vector>

#include "job/JobKeys.h"
#include "line/LineOptions.h"

namespace voltrix {

// --keygen or --sign, as asked; the program's exit status.
int runLineJobCommand(const LineOptions& options);

// The --trust-key files read; empty with `error` naming the wrong one.
std::optional<std::vector<PublicKey>> lineTrustedKeys(const std::vector<std::string>& files,
                                                      std::string& error);

}  // namespace voltrix

// This voltrix-line is built without signed jobs (no libsodium).
#include <cstdio>

#include "line/LineJobCommands.h"

namespace voltrix {

namespace {
constexpr char kNoJobs[] = "this build has no signed jobs";
}

int runLineJobCommand(const LineOptions& options) {
  std::fprintf(stderr, "voltrix-line: %s: %s\n", options.keygen ? "--keygen" : "--sign", kNoJobs);
  return kLineExitUsage;
}

std::optional<std::vector<PublicKey>> lineTrustedKeys(const std::vector<std::string>& files,
                                                      std::string& error) {
  if (files.empty()) return std::vector<PublicKey>{};
  error = std::string("--trust-key: ") + kNoJobs;
  return std::nullopt;
}

}  // namespace voltrix

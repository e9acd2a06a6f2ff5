#include "line/LineJobCommands.h"

#include "job/JobCommands.h"
#include "job/StationJobs.h"

namespace voltrix {

int runLineJobCommand(const LineOptions& options) {
  if (options.keygen) return runKeygen(*options.keygen, stdout, stderr);
  return runSign(options.signKey, options.signImage, stdout, stderr);
}

std::optional<std::vector<PublicKey>> lineTrustedKeys(const std::vector<std::string>& files,
                                                      std::string& error) {
  return readTrustedKeys(files, error);
}

}  // namespace voltrix

#include "cli/RunPieces.h"

#include "cli/ExitCodes.h"
#include "cli/HostSystem.h"
#include "cli/Outcome.h"

namespace voltrix::cli {

namespace {

std::chrono::milliseconds millisecondsOf(double seconds) {
  return std::chrono::milliseconds(static_cast<long long>(seconds * 1000.0 + 0.5));
}

}  // namespace

LinkTimings linkTimingsFor(const CliOptions& options) {
  LinkTimings timings;
  timings.replyBound = millisecondsOf(options.replyTimeoutSeconds);
  if (options.timeoutSeconds) timings.handshakeLimit = millisecondsOf(*options.timeoutSeconds);
  return timings;
}

std::string hintForPort(const OpenFailureRecord& failures) {
  std::string hint = describeOpenFailure(failures.last());
  if (failures.failure() == OpenFailure::PortBusy && modemManagerRunning()) {
    hint +=
        " ModemManager is running: it is known to grab USB modems' ports for a few seconds "
        "after they appear; wait and try again, or stop it.";
  }
  return hint;
}

int exitCodeOfRun(RunFailure failure, const DownloadState& state) {
  const int exitCode = exitCodeFor(failure);
  if (exitCode == kExitOk && state.cursor != state.segmentCount) return kExitInternal;
  return exitCode;
}

void summarizeRun(RunSummary& summary, int exitCode, RunFailure failure,
                  const VerifiedSegments& verified) {
  summary.exitCode = exitCode;
  summary.result = exitCode == kExitOk ? RunSummary::Result::Verified : RunSummary::Result::Failed;
  if (failure != RunFailure::None) summary.failure = failureText(failure);
  summary.segments = verified.count();
  summary.bytes = verified.bytes();
}

}  // namespace voltrix::cli

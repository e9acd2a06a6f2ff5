#include "control/RunPieces.h"

#include <filesystem>
#include <system_error>

#include "control/ExitCodes.h"
#include "control/FailureKind.h"
#include "control/Outcome.h"
#include "platform/ModemManager.h"
#include "platform/Utf8Path.h"

namespace voltrix {

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
                  const VerifiedSegments& verified, const DownloadState& state,
                  OpenFailure openFailure) {
  summary.exitCode = exitCode;
  summary.result = exitCode == kExitOk ? RunSummary::Result::Verified : RunSummary::Result::Failed;
  summary.segments = verified.count();
  summary.bytes = verified.bytes();
  if (exitCode == kExitOk) return;
  FailureKind kind = failureKindOf(failure, openFailure);
  if (failure != RunFailure::None) {
    summary.failure = failureText(failure);
  } else if (summary.failureKind.empty()) {
    // Nothing reported, yet segments were left undone.
    kind = {"internal_error", "the run ended with segments left undone"};
  }
  if (kind.id != nullptr) {
    summary.failureKind = kind.id;
    summary.failureEnglish = kind.english;
  }
  // The cursor names the segment under way (counted from 1); one that was
  // verified is not where the run failed (the end-of-run byte is no segment).
  const int segment = state.cursor.load();
  if (segment >= 1 && segment <= state.segmentCount.load() && segment > verified.count()) {
    summary.failedSegment = segment;
    summary.failedAddress = state.currentAddress.load();
  }
  if (!state.runFolder.empty()) {
    std::error_code error;
    const auto folder = std::filesystem::absolute(pathFromUtf8(state.runFolder), error);
    summary.runFolder = error ? state.runFolder : utf8FromPath(folder);
  }
}

void summarizeRefusal(RunSummary& summary, Refusal refusal) {
  summary.result = RunSummary::Result::Refused;
  summary.failure = refusalText(refusal);
  summary.exitCode = exitCodeFor(refusal);
  const FailureKind kind = failureKindOf(refusal);
  if (kind.id != nullptr) {
    summary.failureKind = kind.id;
    summary.failureEnglish = kind.english;
  }
}

void addHint(RunSummary& summary, const std::string& line) {
  if (line.empty()) return;
  summary.hint += (summary.hint.empty() ? "" : "\n") + line;
}

}  // namespace voltrix

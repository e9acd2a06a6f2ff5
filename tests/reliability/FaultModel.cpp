#include "tests/reliability/FaultModel.h"

#include "engine/RunFailure.h"

namespace voltrix::test {

using sim::FaultKind;
using sim::SimStep;

std::vector<std::vector<SimStep>> stepsBySegment(const std::vector<std::uint32_t>& lengths) {
  std::vector<std::vector<SimStep>> all;
  for (std::uint32_t length : lengths) {
    std::vector<SimStep> steps{SimStep::Sync};
    const std::uint32_t blocks = (length + 63) / 64;
    for (std::uint32_t i = 0; i < blocks; ++i) {
      steps.insert(steps.end(), {SimStep::WriteCommand, SimStep::WriteHeader, SimStep::WriteData});
    }
    for (std::uint32_t i = 0; i < blocks; ++i) {
      steps.insert(steps.end(), {SimStep::ReadCommand, SimStep::ReadHeader, SimStep::DataRequest,
                                 SimStep::ReadAck});
    }
    all.push_back(steps);
  }
  return all;
}

namespace {

bool isReadBack(SimStep step) {
  return step == SimStep::ReadCommand || step == SimStep::ReadHeader ||
         step == SimStep::DataRequest || step == SimStep::ReadAck;
}

ExpectedEnding failure(RunFailure error, bool signal = false) {
  ExpectedEnding ending;
  ending.verified = false;
  ending.error = error;
  ending.endOfRunSignal = signal;
  return ending;
}

// How the run ends when `kind` hits `step`.
ExpectedEnding endingAt(SimStep step, FaultKind kind) {
  const bool answerExamined =
      step == SimStep::WriteHeader || step == SimStep::WriteData || step == SimStep::ReadHeader;
  const RunFailure refusal =
      step == SimStep::WriteHeader ? RunFailure::DownloadRefused : RunFailure::VerifyRefused;
  switch (kind) {
    case FaultKind::None:
    case FaultKind::LateReply:
      return {};
    case FaultKind::HangUp:
      return step == SimStep::EndOfRun ? ExpectedEnding{} : failure(RunFailure::PortGone);
    case FaultKind::Silence:
      return step == SimStep::EndOfRun ? ExpectedEnding{} : failure(RunFailure::DeviceSilent);
    case FaultKind::Refuse:
    case FaultKind::WrongByte:
      if (step == SimStep::DataRequest) return failure(RunFailure::VerifyMismatch, true);
      return answerExamined ? failure(refusal) : ExpectedEnding{};
    case FaultKind::ShortBlock:
      // Half of the answer: a one-byte answer is lost altogether. A data
      // block of one byte arrives empty, and the device still answers.
      if (step == SimStep::DataRequest) return failure(RunFailure::VerifyMismatch, true);
      if (step == SimStep::Sync || step == SimStep::EndOfRun) return {};
      return failure(RunFailure::DeviceSilent);
  }
  return {};
}

}  // namespace

ExpectedEnding expectedEnding(const std::vector<std::uint32_t>& lengths,
                              const sim::FaultPlan& fault) {
  if (fault.kind == FaultKind::None) return {};
  // Whatever happens to the end-of-run byte, the segments are verified.
  if (fault.step == SimStep::EndOfRun) return {};
  const auto steps = stepsBySegment(lengths);
  int seen = 0;
  for (std::size_t segment = 0; segment < steps.size(); ++segment) {
    std::uint32_t headerIndex = 0;
    for (SimStep step : steps[segment]) {
      const std::uint32_t block = step == SimStep::WriteHeader ? headerIndex++ : 0;
      if (step != fault.step || ++seen != fault.occurrence) continue;
      ExpectedEnding ending = endingAt(step, fault.kind);
      if (!ending.verified) {
        ending.failingSegment = static_cast<int>(segment);
        ending.failsInReadBack = isReadBack(step);
      }
      ending.abortEndsAsFailSignal = fault.kind == FaultKind::WrongByte &&
                                     step == SimStep::WriteHeader &&
                                     block == lengths[segment] / 64 && lengths[segment] % 64 == 1;
      return ending;
    }
  }
  return {};  // the fault's occurrence is never reached
}

const char* stepName(SimStep step) {
  switch (step) {
    case SimStep::Sync:
      return "Sync";
    case SimStep::WriteCommand:
      return "WriteCommand";
    case SimStep::WriteHeader:
      return "WriteHeader";
    case SimStep::WriteData:
      return "WriteData";
    case SimStep::ReadCommand:
      return "ReadCommand";
    case SimStep::ReadHeader:
      return "ReadHeader";
    case SimStep::DataRequest:
      return "DataRequest";
    case SimStep::ReadAck:
      return "ReadAck";
    case SimStep::Abort:
      return "Abort";
    case SimStep::EndOfRun:
      return "EndOfRun";
  }
  return "?";
}

const char* faultName(FaultKind kind) {
  switch (kind) {
    case FaultKind::None:
      return "None";
    case FaultKind::Refuse:
      return "Refuse";
    case FaultKind::Silence:
      return "Silence";
    case FaultKind::HangUp:
      return "HangUp";
    case FaultKind::WrongByte:
      return "WrongByte";
    case FaultKind::ShortBlock:
      return "ShortBlock";
    case FaultKind::LateReply:
      return "LateReply";
  }
  return "?";
}

}  // namespace voltrix::test

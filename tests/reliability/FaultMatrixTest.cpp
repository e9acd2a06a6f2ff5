// Every fault the simulated device can make, at every step of a
// three-segment run (one of them empty), each in a run of its own.

#include <gtest/gtest.h>

#include <map>

#include "tests/reliability/RunChecker.h"
#include "tests/support/TempDir.h"

namespace voltrix::test {
namespace {

using sim::FaultKind;
using sim::SimStep;

const std::vector<std::uint32_t> kLengths{130, 0, 40};

std::vector<RunCase> allCases(FaultKind kind) {
  std::map<SimStep, int> occurrences;
  for (const auto& segment : stepsBySegment(kLengths)) {
    for (SimStep step : segment) ++occurrences[step];
  }
  occurrences[SimStep::EndOfRun] = 1;
  std::vector<RunCase> cases;
  for (const auto& [step, count] : occurrences) {
    for (int n = 1; n <= count; ++n) {
      RunCase run;
      run.lengths = kLengths;
      run.fault = {kind, step, n, std::chrono::milliseconds(kind == FaultKind::LateReply ? 60 : 0)};
      run.seed = static_cast<std::uint32_t>(n * 31 + static_cast<int>(step));
      cases.push_back(run);
    }
  }
  return cases;
}

class FaultMatrix : public ::testing::TestWithParam<FaultKind> {};

TEST_P(FaultMatrix, EveryStepEndsAsItMust) {
  TempDir dir;
  const auto cases = allCases(GetParam());
  runAndCheck(RunCase{kLengths, {}, 1}, dir.path(), false);
  for (const RunCase& run : cases) runAndCheck(run, dir.path());
  std::printf("%zu runs with %s\n", cases.size(), faultName(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix,
                         ::testing::Values(FaultKind::Refuse, FaultKind::Silence, FaultKind::HangUp,
                                           FaultKind::WrongByte, FaultKind::ShortBlock,
                                           FaultKind::LateReply),
                         [](const auto& info) { return std::string(faultName(info.param)); });

}  // namespace
}  // namespace voltrix::test

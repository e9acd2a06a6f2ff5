#pragma once
// What a whole run must end with when the simulated device misbehaves once:
// the model the fault matrix and the soak check every run against.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/RunFailure.h"
#include "sim/ZetakSimulator.h"

namespace voltrix::test {

struct ExpectedEnding {
  bool verified = true;                 // every segment verified, 'Z' sent
  RunFailure error = RunFailure::None;  // the one failure the run posts
  bool endOfRunSignal = false;          // 'E' goes to the device after the failure
  int failingSegment = -1;              // 0-based segment the fault hits
  bool failsInReadBack = false;         // the read-back file exists too
  // The device accepted a one-byte block's header that the host saw refused:
  // it takes the abort packet's first byte for the data, and its 0x45 ('E')
  // for a command.
  bool abortEndsAsFailSignal = false;
};

// The steps a normal run over segments of these lengths takes, in order.
std::vector<std::vector<sim::SimStep>> stepsBySegment(const std::vector<std::uint32_t>& lengths);

// The ending of a run over `lengths` with `fault` injected.
ExpectedEnding expectedEnding(const std::vector<std::uint32_t>& lengths,
                              const sim::FaultPlan& fault);

const char* stepName(sim::SimStep step);
const char* faultName(sim::FaultKind kind);

}  // namespace voltrix::test

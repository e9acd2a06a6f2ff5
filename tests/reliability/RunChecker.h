#pragma once
// Runs one whole download against a simulated device with one fault and
// checks every invariant a run must keep, whatever went wrong.

#include <cstdint>
#include <string>
#include <vector>

#include "sim/ZetakSimulator.h"
#include "tests/reliability/FaultModel.h"

namespace voltrix::test {

struct RunCase {
  std::vector<std::uint32_t> lengths;
  sim::FaultPlan fault;
  std::uint32_t seed = 1;  // for the image's bytes and addresses
};

// Adds a GoogleTest failure, naming the case, for every invariant broken.
// The first run of a process may leave threads and descriptors that the
// runtime keeps (a sanitizer's helper thread, for one): warm up with
// `checkResources` false.
// The run's folder is made in `folder` and removed after the checks.
void runAndCheck(const RunCase& run, const std::string& folder, bool checkResources = true);

std::string describe(const RunCase& run);

// What the process holds: open descriptors and threads.
int openDescriptors();
int threadCount();
long residentKilobytes();

}  // namespace voltrix::test

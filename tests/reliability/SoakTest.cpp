// Two hundred runs in one process with random images and random faults.
// Each run is checked like a fault-matrix run; across them the process must
// not gain descriptors, threads or memory. VOLTRIX_SOAK_SEED repeats a run.

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "tests/reliability/RunChecker.h"
#include "tests/support/TempDir.h"

namespace voltrix::test {
namespace {

using sim::FaultKind;
using sim::SimStep;

// Under a sanitizer, freed memory sits in a quarantine and shadow memory
// grows with use, so the resident size says nothing about leaks there;
// LeakSanitizer checks those at exit instead.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kResidentSizeMeansLeaks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kResidentSizeMeansLeaks = false;
#else
constexpr bool kResidentSizeMeansLeaks = true;
#endif
#else
constexpr bool kResidentSizeMeansLeaks = true;
#endif

RunCase randomCase(std::mt19937& random) {
  RunCase run;
  const int segments = std::uniform_int_distribution<int>(1, 4)(random);
  std::uniform_int_distribution<std::uint32_t> length(0, 300);
  for (int i = 0; i < segments; ++i) run.lengths.push_back(length(random));
  const FaultKind kinds[] = {FaultKind::None,      FaultKind::Refuse,    FaultKind::Silence,
                             FaultKind::HangUp,    FaultKind::WrongByte, FaultKind::ShortBlock,
                             FaultKind::LateReply, FaultKind::None};
  const SimStep steps[] = {SimStep::Sync,        SimStep::WriteCommand, SimStep::WriteHeader,
                           SimStep::WriteData,   SimStep::ReadCommand,  SimStep::ReadHeader,
                           SimStep::DataRequest, SimStep::ReadAck,      SimStep::EndOfRun};
  run.fault.kind = kinds[std::uniform_int_distribution<int>(0, 7)(random)];
  run.fault.step = steps[std::uniform_int_distribution<int>(0, 8)(random)];
  run.fault.occurrence = std::uniform_int_distribution<int>(1, 6)(random);
  run.fault.lateBy = std::chrono::milliseconds(run.fault.kind == FaultKind::LateReply ? 40 : 0);
  run.seed = static_cast<std::uint32_t>(random());
  return run;
}

TEST(Soak, TwoHundredRunsKeepEveryInvariantAndLeakNothing) {
  TempDir dir;
  const char* fixed = std::getenv("VOLTRIX_SOAK_SEED");
  const std::uint32_t seed =
      fixed ? static_cast<std::uint32_t>(std::strtoul(fixed, nullptr, 10)) : std::random_device{}();
  SCOPED_TRACE("VOLTRIX_SOAK_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);

  // A first run settles what the process allocates once (thread stacks,
  // caches); growth is measured from there.
  runAndCheck(randomCase(random), dir.path(), false);
  const int descriptors = openDescriptors();
  const int threads = threadCount();
  const long memory = residentKilobytes();
  for (int i = 1; i < 200 && !::testing::Test::HasFailure(); ++i)
    runAndCheck(randomCase(random), dir.path());
  EXPECT_EQ(openDescriptors(), descriptors);
  EXPECT_EQ(threadCount(), threads);
  const long growth = residentKilobytes() - memory;
  std::printf("soak seed %u: 200 runs, resident memory grew by %ld KiB\n", seed, growth);
  if (kResidentSizeMeansLeaks) {
    EXPECT_LT(growth, 16 * 1024);
  }
}

}  // namespace
}  // namespace voltrix::test

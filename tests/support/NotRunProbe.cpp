// Tests that end without having run, for the check that fails such a test
// program although gtest itself exits 0; see tests/CMakeLists.txt.
#include <gtest/gtest.h>

TEST(NotRunProbe, Runs) {
  EXPECT_EQ(1 + 1, 2);
}

TEST(NotRunProbe, Skips) {
  GTEST_SKIP() << "skipped on purpose";
}

TEST(NotRunProbeDisabled, DISABLED_IsNeverRun) {
  ADD_FAILURE() << "a disabled test ran";
}

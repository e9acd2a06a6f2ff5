#include <gtest/gtest.h>

#include "sim/ImageBuilder.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

namespace voltrix {
namespace {

using test::runProcess;

TEST(CliList, PrintsOneLinePerCountedSegment) {
  test::TempDir dir;
  auto image = buildImage({{0, 0x123456, std::vector<std::uint8_t>(100, 1), {}, {}},
                           {1, 0x7, {1, 2}, {}, {}},
                           {0, 0x10, std::vector<std::uint8_t>(3, 1), {}, {}}});
  ASSERT_TRUE(writeImageFile("sysbin.bin", image));
  auto result = runProcess({VOLTRIX_CLI, "--list"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_NE(result.out.find("1                 0 0x00123456        100\n"), std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("2               166 0x00000010          3\n"), std::string::npos)
      << result.out;
  EXPECT_EQ(result.out.find("\n3 "), std::string::npos);
}

TEST(CliList, FailsWithTheSystemsOwnMessages) {
  test::TempDir dir;
  auto missing = runProcess({VOLTRIX_CLI, "--list", "absent.bin"});
  EXPECT_NE(missing.exitCode, 0);
  EXPECT_NE(missing.out.find("             System file can't be found              "),
            std::string::npos);

  ASSERT_TRUE(writeImageFile("skipped.bin", buildImage({{1, 0, {1}, {}, {}}})));
  auto empty = runProcess({VOLTRIX_CLI, "--list", "skipped.bin"});
  EXPECT_NE(empty.exitCode, 0);
  EXPECT_NE(empty.out.find("           Downloading file can't be found           "),
            std::string::npos);
}

TEST(CliList, ListsCyclicAndTruncatedImages) {
  test::TempDir dir;
  ImageRecord looping{0, 0x40, {9, 9}, {}, 0};
  ASSERT_TRUE(writeImageFile("cycle.bin", buildImage({looping})));
  auto cycle = runProcess({VOLTRIX_CLI, "--list", "cycle.bin"}, {}, std::chrono::seconds(20));
  EXPECT_FALSE(cycle.timedOut);
  EXPECT_EQ(cycle.exitCode, 0);
  EXPECT_NE(cycle.out.find("0x00000040"), std::string::npos);

  auto cut = buildImage({{0, 0x40, {1}, {}, {}}, {0, 0x80, {1}, {}, {}}});
  cut.bytes.resize(cut.recordOffsets[1] + 10);
  ASSERT_TRUE(writeImageFile("cut.bin", cut));
  auto truncated = runProcess({VOLTRIX_CLI, "--list", "cut.bin"}, {}, std::chrono::seconds(20));
  EXPECT_EQ(truncated.exitCode, 0);
  EXPECT_EQ(truncated.out.find("0x00000080"), std::string::npos);
}

}  // namespace
}  // namespace voltrix

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sim/ImageBuilder.h"
#include "tests/support/Process_posix.h"
#include "tests/support/TempDir.h"

namespace voltrix {
namespace {

using test::runProcessIn;

TEST(CliList, PrintsOneLinePerCountedSegment) {
  test::TempDir dir;
  auto image = buildImage({{0, 0x123456, std::vector<std::uint8_t>(100, 1), {}, {}},
                           {1, 0x7, {1, 2}, {}, {}},
                           {0, 0x10, std::vector<std::uint8_t>(3, 1), {}, {}}});
  ASSERT_TRUE(writeImageFile(dir.file("sysbin.bin"), image));
  auto result = runProcessIn(dir.path(), {VOLTRIX_CLI, "--list"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_NE(result.out.find("1                 0 0x00123456        100\n"), std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("2               166 0x00000010          3\n"), std::string::npos)
      << result.out;
  EXPECT_EQ(result.out.find("\n3 "), std::string::npos);
}

TEST(CliList, FailsWithTheSystemsOwnMessages) {
  test::TempDir dir;
  auto missing = runProcessIn(dir.path(), {VOLTRIX_CLI, "--list", "absent.bin"});
  EXPECT_NE(missing.exitCode, 0);
  EXPECT_NE(missing.out.find("             System file can't be found              "),
            std::string::npos);

  ASSERT_TRUE(writeImageFile(dir.file("skipped.bin"), buildImage({{1, 0, {1}, {}, {}}})));
  auto empty = runProcessIn(dir.path(), {VOLTRIX_CLI, "--list", "skipped.bin"});
  EXPECT_NE(empty.exitCode, 0);
  EXPECT_NE(empty.out.find("           Downloading file can't be found           "),
            std::string::npos);
}

TEST(CliList, ListsCyclicAndTruncatedImages) {
  test::TempDir dir;
  ImageRecord looping{0, 0x40, {9, 9}, {}, 0};
  ASSERT_TRUE(writeImageFile(dir.file("cycle.bin"), buildImage({looping})));
  auto cycle =
      runProcessIn(dir.path(), {VOLTRIX_CLI, "--list", "cycle.bin"}, {}, std::chrono::seconds(20));
  EXPECT_FALSE(cycle.timedOut);
  EXPECT_EQ(cycle.exitCode, 0);
  EXPECT_NE(cycle.out.find("0x00000040"), std::string::npos);

  auto cut = buildImage({{0, 0x40, {1}, {}, {}}, {0, 0x80, {1}, {}, {}}});
  cut.bytes.resize(cut.recordOffsets[1] + 10);
  ASSERT_TRUE(writeImageFile(dir.file("cut.bin"), cut));
  auto truncated =
      runProcessIn(dir.path(), {VOLTRIX_CLI, "--list", "cut.bin"}, {}, std::chrono::seconds(20));
  EXPECT_EQ(truncated.exitCode, 0);
  EXPECT_EQ(truncated.out.find("0x00000080"), std::string::npos);
}

TEST(CliList, NamesTheFileAndWhatIsWrongWithIt) {
  test::TempDir dir;
  auto missing = runProcessIn(dir.path(), {VOLTRIX_CLI, "--list", "absent.bin"});
  EXPECT_EQ(missing.exitCode, 3);
  EXPECT_NE(missing.out.find("absent.bin was not found."), std::string::npos) << missing.out;

  ASSERT_EQ(::mkdir(dir.file("folder.bin").c_str(), 0755), 0);
  auto folder = runProcessIn(dir.path(), {VOLTRIX_CLI, "--list", "folder.bin"});
  EXPECT_EQ(folder.exitCode, 3);
  EXPECT_NE(folder.out.find("folder.bin is a directory, not a file."), std::string::npos)
      << folder.out;

  ASSERT_EQ(::mkfifo(dir.file("pipe.bin").c_str(), 0644), 0);
  auto fifo =
      runProcessIn(dir.path(), {VOLTRIX_CLI, "--list", "pipe.bin"}, {}, std::chrono::seconds(20));
  EXPECT_EQ(fifo.exitCode, 3);
  EXPECT_NE(fifo.out.find("pipe.bin is not a regular file."), std::string::npos) << fifo.out;

  ASSERT_EQ(::symlink("loop.bin", dir.file("loop.bin").c_str()), 0);
  auto loop = runProcessIn(dir.path(), {VOLTRIX_CLI, "--list", "loop.bin"});
  EXPECT_EQ(loop.exitCode, 3);
  EXPECT_NE(loop.out.find("loop.bin is a symbolic link that cannot be followed"), std::string::npos)
      << loop.out;

  ASSERT_TRUE(writeImageFile(dir.file("skipped.bin"), buildImage({{1, 0, {1}, {}, {}}})));
  auto empty = runProcessIn(dir.path(), {VOLTRIX_CLI, "--list", "skipped.bin"});
  EXPECT_EQ(empty.exitCode, 4);
  EXPECT_NE(empty.out.find("skipped.bin: no segment can be downloaded."), std::string::npos)
      << empty.out;
}

TEST(CliList, MarksImpossibleRecords) {
  test::TempDir dir;
  // A length of -65793 is three zero bytes in the record's length field.
  ImageRecord negative{0, 0x40, {}, 0, {}};
  auto image = buildImage({{0, 0x10, {1, 2}, {}, {}}, negative});
  const std::size_t lengthField = image.recordOffsets[1] + 24;
  image.bytes[lengthField] = image.bytes[lengthField + 1] = image.bytes[lengthField + 2] = 0;
  ASSERT_TRUE(writeImageFile(dir.file("odd.bin"), image));
  auto listed = runProcessIn(dir.path(), {VOLTRIX_CLI, "--list", "odd.bin"});
  EXPECT_EQ(listed.exitCode, 4);
  EXPECT_NE(listed.out.find("-65793  damaged: a negative length"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("odd.bin: 1 segment cannot be downloaded."), std::string::npos);
}

}  // namespace
}  // namespace voltrix

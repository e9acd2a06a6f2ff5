// The file layer's promises that the segment files and the run folders rely
// on, the same on every platform.

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "platform/FileIo.h"
#include "tests/support/TempDir.h"

namespace voltrix {
namespace {

namespace fs = std::filesystem;
using test::readFileBytes;
using test::writeFileBytes;

TEST(FileIo, AFreshFileReplacesAReadOnlyFileUnderItsName) {
  test::TempDir dir;
  writeFileBytes(dir.file("F_1_W_sysbin.bin"), "left over from an earlier run");
  fs::permissions(dir.file("F_1_W_sysbin.bin"), fs::perms::owner_read, fs::perm_options::replace);
  File file = createFreshFile(dir.file("F_1_W_sysbin.bin"));
  ASSERT_TRUE(file);
  EXPECT_EQ(file.size(), 0u);
  const std::vector<std::uint8_t> bytes{'n', 'e', 'w', '\n', '\0'};
  ASSERT_TRUE(file.writeFully(bytes.data(), bytes.size()));
  file.close();
  EXPECT_EQ(readFileBytes(dir.file("F_1_W_sysbin.bin")), std::string("new\n\0", 5));
}

TEST(FileIo, AFolderUnderTheNameIsNeitherOpenedNorReplaced) {
  test::TempDir dir;
  ASSERT_TRUE(fs::create_directory(dir.file("sysbin.bin")));
  writeFileBytes(dir.file("sysbin.bin/inside"), "kept");
  EXPECT_FALSE(openForReading(dir.file("sysbin.bin")));
  EXPECT_FALSE(createFreshFile(dir.file("sysbin.bin")));
  EXPECT_FALSE(removeFile(dir.file("sysbin.bin")));
  EXPECT_EQ(readFileBytes(dir.file("sysbin.bin/inside")), "kept");
  EXPECT_TRUE(removeFile(dir.file("not-there")));
  EXPECT_FALSE(openForReading(dir.file("not-there")));
}

TEST(FileIo, ReadsFromAnyPositionUpToTheEnd) {
  test::TempDir dir;
  writeFileBytes(dir.file("image"), std::string("0123456789\r\n", 12));
  File file = openForReading(dir.file("image"));
  ASSERT_TRUE(file);
  EXPECT_EQ(file.size(), 12u);
  ASSERT_TRUE(file.seek(4));
  std::vector<std::uint8_t> buffer(100);
  ASSERT_EQ(file.readFully(buffer.data(), buffer.size()), 8);
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 8), std::string("456789\r\n", 8));
  EXPECT_EQ(file.readFully(buffer.data(), buffer.size()), 0);
  File moved = std::move(file);
  EXPECT_FALSE(file);
  EXPECT_TRUE(moved);
  moved.close();
  EXPECT_FALSE(moved.size().has_value());
  EXPECT_EQ(moved.readFully(buffer.data(), 1), -1);
}

TEST(FileIo, EveryPrivateFolderIsNewAndGoesWithItsContents) {
  test::TempDir dir;
  const std::string prefix = dir.file("run-");
  const auto first = createPrivateFolder(prefix);
  const auto second = createPrivateFolder(prefix);
  ASSERT_TRUE(first && second);
  EXPECT_NE(*first, *second);
  EXPECT_EQ(first->rfind(prefix, 0), 0u);
  EXPECT_GT(first->size(), prefix.size());
  EXPECT_TRUE(fs::is_directory(*first));
  writeFileBytes(*first + "/F_1_W_sysbin.bin", "data");
  EXPECT_EQ(readFileBytes(*first + "/F_1_W_sysbin.bin"), "data");
  EXPECT_TRUE(removeFolder(*first));
  EXPECT_FALSE(fs::exists(*first));
  EXPECT_TRUE(fs::is_directory(*second));
}

}  // namespace
}  // namespace voltrix

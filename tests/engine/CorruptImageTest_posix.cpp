// Damaged images that need the POSIX file system to plant: a folder or a
// FIFO under the image's name, and files or folders this user may not use.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/FileDescriptor_posix.h"
#include "tests/engine/CorruptImageFixture.h"
#include "tests/support/TestUser_posix.h"

namespace voltrix {
namespace {

using namespace corrupt;
using test::fileExists;
using test::readFileBytes;
using test::writeFileBytes;

// Runs `body` under ordinary file permissions and returns what it reported:
// here when we are not root, otherwise in a child that has become the test
// user, since root reads and writes whatever the permissions say. nullopt
// (and a failure) when the privileges cannot be dropped.
std::optional<std::vector<int>> withoutPrivileges(const std::function<std::vector<int>()>& body) {
  if (::geteuid() != 0) return body();
  const auto user = test::findTestUser();
  if (!user) {
    ADD_FAILURE() << test::missingTestUserMessage();
    return std::nullopt;
  }
  constexpr int kCannotDrop = 77;
  int ends[2];
  if (::pipe(ends) != 0) return std::nullopt;
  FileDescriptor readEnd(ends[0]), writeEnd(ends[1]);
  const pid_t child = ::fork();
  if (child == 0) {
    if (!test::becomeTestUser(*user)) ::_exit(kCannotDrop);
    const std::vector<int> values = body();
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(values.data());
    ::_exit(writeFully(writeEnd.get(), bytes, values.size() * sizeof(int)) ? 0 : 1);
  }
  writeEnd.reset();
  EXPECT_GT(child, 0) << "fork failed";
  std::vector<int> values;
  int value = 0;
  while (readFully(readEnd.get(), reinterpret_cast<std::uint8_t*>(&value), sizeof value) ==
         static_cast<long long>(sizeof value)) {
    values.push_back(value);
  }
  int status = 0;
  if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
      WEXITSTATUS(status) == kCannotDrop) {
    ADD_FAILURE() << "cannot become " << test::kTestUserName;
    return std::nullopt;
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the unprivileged child failed";
  return values;
}

TEST_F(CorruptImage, ADirectoryOrAFifoUnderTheImageNameIsNotOpened) {
  ASSERT_EQ(::mkdir(imagePath.c_str(), 0755), 0);
  EXPECT_EQ(ops.extractSegment(imagePath, writeFilePath, 0, 0), EXTRACT_CANNOT_OPEN);
  EXPECT_FALSE(fileExists(writeFilePath));

  // Opening a FIFO for reading used to wait for a writer that never came.
  ASSERT_EQ(::mkfifo(dir.file("pipe.bin").c_str(), 0644), 0);
  writeFileBytes(dir.file("plain"), "x");
  EXPECT_EQ(load(dir.file("pipe.bin")), LOAD_CANNOT_OPEN);
  EXPECT_TRUE(untouchedFrom(0));
  EXPECT_EQ(ops.extractSegment(dir.file("pipe.bin"), writeFilePath, 0, 0), EXTRACT_CANNOT_OPEN);
  EXPECT_FALSE(fileExists(writeFilePath));
  EXPECT_EQ(ops.compareSegmentFiles(dir.file("pipe.bin"), dir.file("plain")), COMPARE_CANNOT_OPEN);
  EXPECT_EQ(ops.compareSegmentFiles(dir.file("plain"), dir.file("pipe.bin")), COMPARE_CANNOT_OPEN);
}

TEST_F(CorruptImage, AnImageWithoutReadPermissionIsNotOpened) {
  writeImage(buildImage({segment(0x10, 4)}));
  ASSERT_EQ(::chmod(imagePath.c_str(), 0200), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);  // the write file could be made: it must not be
  const auto seen = withoutPrivileges([this] {
    const int readable = ::access(imagePath.c_str(), R_OK) == 0;
    const int loaded = load();
    const int untouched = untouchedFrom(0);
    const int extracted = ops.extractSegment(imagePath, writeFilePath, 0, 4);
    return std::vector<int>{readable, loaded, untouched, extracted, fileExists(writeFilePath)};
  });
  ASSERT_EQ(::chmod(imagePath.c_str(), 0644), 0);
  ASSERT_TRUE(seen);
  ASSERT_EQ(seen->size(), 5u);
  // A user the permissions do not bind (a capability, a file system that
  // ignores modes) could not show the refusal.
  ASSERT_EQ((*seen)[0], 0) << "permissions do not restrict this user";
  EXPECT_EQ((*seen)[1], LOAD_CANNOT_OPEN);
  EXPECT_EQ((*seen)[2], 1) << "the table was changed";
  EXPECT_EQ((*seen)[3], EXTRACT_CANNOT_OPEN);
  EXPECT_EQ((*seen)[4], 0) << "a write file was made";
}

TEST_F(CorruptImage, AWorkingDirectoryWithoutWritePermissionGetsNoWriteFile) {
  writeImage(buildImage({segment(0x10, 4), segment(0x20, 3)}));
  writeFileBytes(dir.file("F_2_W_sysbin.bin"), "old");
  std::string readBack;
  for (char c : std::string("old")) {
    readBack.push_back(static_cast<char>(transformByte(static_cast<std::uint8_t>(c))));
  }
  writeFileBytes(dir.file("F_2_R_sysbin.bin"), readBack);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
  const auto seen = withoutPrivileges([this] {
    const int writable = ::access(dir.path().c_str(), W_OK) == 0;
    const int loaded = load();
    const int first = extract(0);
    const int made = fileExists(writeFilePath);
    const int second = ops.extractSegment(imagePath, dir.file("F_2_W_sysbin.bin"),
                                          static_cast<std::uint32_t>(offsets[1]), 3);
    const int oldKept = readFileBytes(dir.file("F_2_W_sysbin.bin")) == "old";
    const int compared =
        ops.compareSegmentFiles(dir.file("F_2_W_sysbin.bin"), dir.file("F_2_R_sysbin.bin"));
    return std::vector<int>{writable, loaded, first, made, second, oldKept, compared};
  });
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  ASSERT_TRUE(seen);
  ASSERT_EQ(seen->size(), 7u);
  ASSERT_EQ((*seen)[0], 0) << "permissions do not restrict this user";
  EXPECT_EQ((*seen)[1], 2);
  EXPECT_EQ((*seen)[2], EXTRACT_CANNOT_OPEN);
  EXPECT_EQ((*seen)[3], 0) << "a write file was made";
  EXPECT_EQ((*seen)[4], EXTRACT_CANNOT_OPEN);
  EXPECT_EQ((*seen)[5], 1) << "the old write file was changed";
  EXPECT_EQ((*seen)[6], COMPARE_EQUAL) << "comparing needs no write permission";
}

}  // namespace
}  // namespace voltrix

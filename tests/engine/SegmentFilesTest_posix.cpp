// Segment files where only a POSIX file system can set the scene: a sparse
// image of several GiB, and a link planted under a write file's name.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/ImageFileOps.h"
#include "platform/FileDescriptor_posix.h"
#include "sim/ImageBuilder.h"
#include "tests/support/TempDir.h"

namespace voltrix {
namespace {

using test::fileExists;
using test::readFileBytes;
using test::writeFileBytes;

class SegmentFilesOnPosix : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(writeImageFile(dir.file("sysbin.bin"),
                               buildImage({{0, 0x10, {0x00, 0x01, 0x0E, 0xFF}, {}, {}}})));
  }
  test::TempDir dir;
  ImageFileOps ops;
};

TEST_F(SegmentFilesOnPosix, ANegativeLengthIsRefusedEvenInAHugeImage) {
  // A sparse file of 5 GiB costs no disk space; a negative length read as
  // unsigned fits inside it.
  FileDescriptor huge(::open(dir.file("huge.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
  ASSERT_TRUE(huge);
  ASSERT_EQ(::ftruncate(huge.get(), 5LL << 30), 0);
  huge.reset();
  EXPECT_EQ(ops.extractSegment(dir.file("huge.bin"), dir.file("w"), 0,
                               static_cast<std::uint32_t>(-65793)),
            EXTRACT_IMAGE_TOO_SHORT);
  EXPECT_FALSE(fileExists(dir.file("w")));
  EXPECT_EQ(ops.extractSegment(dir.file("huge.bin"), dir.file("w"), 0, MAX_SEGMENT_LENGTH),
            EXTRACT_OK);
  EXPECT_EQ(readFileBytes(dir.file("w")).size(), MAX_SEGMENT_LENGTH);
}

TEST_F(SegmentFilesOnPosix, DoesNotFollowALinkPlantedUnderTheWriteFileName) {
  writeFileBytes(dir.file("victim"), "precious");
  ASSERT_EQ(::symlink("victim", dir.file("F_1_W_sysbin.bin").c_str()), 0);
  ASSERT_EQ(ops.extractSegment(dir.file("sysbin.bin"), dir.file("F_1_W_sysbin.bin"), 0, 4),
            EXTRACT_OK);
  EXPECT_EQ(readFileBytes(dir.file("victim")), "precious");
  struct stat info {};
  ASSERT_EQ(::lstat(dir.file("F_1_W_sysbin.bin").c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
}

}  // namespace
}  // namespace voltrix

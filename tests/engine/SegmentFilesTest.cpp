#include <gtest/gtest.h>

#include "engine/ImageFileOps.h"
#include "sim/ImageBuilder.h"
#include "tests/support/TempDir.h"

namespace voltrix {
namespace {

using test::fileExists;
using test::readFileBytes;
using test::writeFileBytes;

TEST(TransformByte, IsItsOwnInverseWithTwoFixedPoints) {
  EXPECT_EQ(transformByte(0x00), 0x0E);
  EXPECT_EQ(transformByte(0x0E), 0x00);
  EXPECT_EQ(transformByte(0x0F), 0xFF);
  EXPECT_EQ(transformByte(0xFF), 0x0F);
  EXPECT_EQ(transformByte(0x80), 0x8E);
  EXPECT_EQ(transformByte(0xAA), 0x64);
  int fixedPoints = 0;
  for (int b = 0; b < 256; ++b) {
    const auto byte = static_cast<std::uint8_t>(b);
    EXPECT_EQ(transformByte(transformByte(byte)), byte);
    if (transformByte(byte) == byte) {
      ++fixedPoints;
      EXPECT_TRUE(b == 0x07 || b == 0x87) << b;
    }
  }
  EXPECT_EQ(fixedPoints, 2);
}

class SegmentFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ImageRecord first{0, 0x10, {0x00, 0x01, 0x0E, 0xFF}, {}, {}};
    ImageRecord second{0, 0x20, {}, {}, {}};
    for (int i = 0; i < 300; ++i) second.data.push_back(static_cast<std::uint8_t>(i * 7));
    image = buildImage({first, second});
    ASSERT_TRUE(writeImageFile(dir.file("sysbin.bin"), image));
  }
  std::string transformed(std::uint32_t record, std::size_t length) {
    std::string out;
    for (std::size_t i = 0; i < length; ++i) {
      out.push_back(static_cast<char>(transformByte(image.bytes[record + 32 + i])));
    }
    return out;
  }
  test::TempDir dir;
  BuiltImage image;
  ImageFileOps ops;
};

TEST_F(SegmentFiles, ExtractsTransformedBytesFromBehindTheHeader) {
  ASSERT_EQ(ops.extractSegment(dir.file("sysbin.bin"), dir.file("F_1_W_sysbin.bin"), 0, 4),
            EXTRACT_OK);
  EXPECT_EQ(readFileBytes(dir.file("F_1_W_sysbin.bin")), std::string("\x0E\x0D\x00\x0F", 4));
  const std::uint32_t second = image.recordOffsets[1];
  ASSERT_EQ(ops.extractSegment(dir.file("sysbin.bin"), dir.file("F_2_W_sysbin.bin"), second, 300),
            EXTRACT_OK);
  EXPECT_EQ(readFileBytes(dir.file("F_2_W_sysbin.bin")), transformed(second, 300));
}

TEST_F(SegmentFiles, ReplacesALongerOldFileAndMakesEmptyOnes) {
  writeFileBytes(dir.file("F_1_W_sysbin.bin"), std::string(1000, 'x'));
  ASSERT_EQ(ops.extractSegment(dir.file("sysbin.bin"), dir.file("F_1_W_sysbin.bin"), 0, 4),
            EXTRACT_OK);
  EXPECT_EQ(readFileBytes(dir.file("F_1_W_sysbin.bin")).size(), 4u);
  ASSERT_EQ(ops.extractSegment(dir.file("sysbin.bin"), dir.file("empty"), 0, 0), EXTRACT_OK);
  EXPECT_TRUE(fileExists(dir.file("empty")));
  EXPECT_EQ(readFileBytes(dir.file("empty")).size(), 0u);
}

TEST_F(SegmentFiles, AMissingImageLeavesNoWriteFile) {
  EXPECT_EQ(ops.extractSegment(dir.file("missing.bin"), dir.file("F_1_W_sysbin.bin"), 0, 4),
            EXTRACT_CANNOT_OPEN);
  EXPECT_FALSE(fileExists(dir.file("F_1_W_sysbin.bin")));
}

TEST_F(SegmentFiles, RefusesSegmentsThatRunPastTheImage) {
  const std::uint32_t second = image.recordOffsets[1];
  const std::uint32_t size = static_cast<std::uint32_t>(image.bytes.size());
  // One byte too many, a length that decodes negative, a huge one, and an
  // offset beyond the file: none may write a single byte.
  EXPECT_EQ(ops.extractSegment(dir.file("sysbin.bin"), dir.file("a"), second, 301),
            EXTRACT_IMAGE_TOO_SHORT);
  EXPECT_EQ(ops.extractSegment(dir.file("sysbin.bin"), dir.file("b"), 0,
                               static_cast<std::uint32_t>(-65793)),
            EXTRACT_IMAGE_TOO_SHORT);
  EXPECT_EQ(ops.extractSegment(dir.file("sysbin.bin"), dir.file("c"), 0, 0xFFFFFFFFu),
            EXTRACT_IMAGE_TOO_SHORT);
  EXPECT_EQ(ops.extractSegment(dir.file("sysbin.bin"), dir.file("d"), size, 0),
            EXTRACT_IMAGE_TOO_SHORT);
  for (const char* name : {"a", "b", "c", "d"}) EXPECT_FALSE(fileExists(name)) << name;
  // The last byte of the file is still within reach.
  EXPECT_EQ(ops.extractSegment(dir.file("sysbin.bin"), dir.file("e"), second, 300), EXTRACT_OK);
}

TEST_F(SegmentFiles, LeavesTheImageUnchanged) {
  const std::string before = readFileBytes(dir.file("sysbin.bin"));
  ASSERT_EQ(ops.extractSegment(dir.file("sysbin.bin"), dir.file("w"), image.recordOffsets[1], 300),
            EXTRACT_OK);
  EXPECT_EQ(readFileBytes(dir.file("sysbin.bin")), before);
}

TEST_F(SegmentFiles, ComparesThroughTheTransform) {
  writeFileBytes(dir.file("w"), std::string("\x0E\x0E", 2));
  writeFileBytes(dir.file("same"), std::string("\x00\x00", 2));
  writeFileBytes(dir.file("differs"), std::string("\x00\x01", 2));
  writeFileBytes(dir.file("longer"), std::string("\x00\x00\x55", 3));
  writeFileBytes(dir.file("shorter"), std::string("\x00", 1));
  writeFileBytes(dir.file("empty"), "");
  EXPECT_EQ(ops.compareSegmentFiles(dir.file("w"), dir.file("same")), COMPARE_EQUAL);
  EXPECT_EQ(ops.compareSegmentFiles(dir.file("w"), dir.file("differs")), COMPARE_DIFFERENT);
  EXPECT_EQ(ops.compareSegmentFiles(dir.file("w"), dir.file("longer")), COMPARE_EQUAL);
  EXPECT_EQ(ops.compareSegmentFiles(dir.file("w"), dir.file("shorter")), COMPARE_DIFFERENT);
  EXPECT_EQ(ops.compareSegmentFiles(dir.file("w"), dir.file("empty")), COMPARE_DIFFERENT);
  EXPECT_EQ(ops.compareSegmentFiles(dir.file("empty"), dir.file("w")), COMPARE_EQUAL);
  EXPECT_EQ(ops.compareSegmentFiles(dir.file("empty"), dir.file("empty")), COMPARE_EQUAL);
  EXPECT_EQ(ops.compareSegmentFiles(dir.file("w"), dir.file("missing")), COMPARE_CANNOT_OPEN);
  EXPECT_EQ(ops.compareSegmentFiles(dir.file("missing"), dir.file("w")), COMPARE_CANNOT_OPEN);
  EXPECT_EQ(ops.compareSegmentFiles(dir.file("missing"), dir.file("missing")), COMPARE_CANNOT_OPEN);
}

TEST_F(SegmentFiles, ComparesLargeFilesAcrossBlockBoundaries) {
  std::string write(10000, '\0'), readBack(10000, '\0');
  for (std::size_t i = 0; i < write.size(); ++i) {
    write[i] = static_cast<char>(i * 13);
    readBack[i] = static_cast<char>(transformByte(static_cast<std::uint8_t>(i * 13)));
  }
  writeFileBytes(dir.file("w"), write);
  writeFileBytes(dir.file("r"), readBack);
  EXPECT_EQ(ops.compareSegmentFiles(dir.file("w"), dir.file("r")), COMPARE_EQUAL);
  readBack[9999] ^= 1;
  writeFileBytes(dir.file("r"), readBack);
  EXPECT_EQ(ops.compareSegmentFiles(dir.file("w"), dir.file("r")), COMPARE_DIFFERENT);
}

}  // namespace
}  // namespace voltrix

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/ImageFileOps.h"
#include "sim/ImageBuilder.h"
#include "tests/support/TempDir.h"

namespace voltrix {
namespace {

struct Table {
  SegmentColumn offsets{}, addresses{}, lengths{};
  std::int32_t load(const std::string& file) {
    ImageFileOps ops;
    return ops.loadSegmentTable(file, offsets, addresses, lengths);
  }
};

ImageRecord segment(std::int32_t address, std::size_t length, std::uint8_t skip = 0) {
  ImageRecord record;
  record.skipFlag = skip;
  record.loadAddress = address;
  record.data.assign(length, 0x11);
  return record;
}

TEST(BiasedNumber, DecodesTheWholeNumberWithBorrows) {
  const std::uint8_t zero[] = {1, 1, 1}, sixtyFour[] = {1, 1, 0x41}, borrow[] = {1, 2, 0},
                     lowest[] = {0, 0, 0}, highest[] = {0xFF, 0xFF, 0xFF};
  EXPECT_EQ(decodeBiased24(zero), 0);
  EXPECT_EQ(decodeBiased24(sixtyFour), 64);
  EXPECT_EQ(decodeBiased24(borrow), 255);
  EXPECT_EQ(decodeBiased24(lowest), -65793);
  EXPECT_EQ(decodeBiased24(highest), 0xFFFFFF - 0x10101);
  std::uint8_t bytes[3];
  ASSERT_TRUE(encodeBiased24(255, bytes));
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[1], 2);
  EXPECT_EQ(bytes[2], 0);
  EXPECT_FALSE(encodeBiased24(-65794, bytes));
  EXPECT_FALSE(encodeBiased24(0xFFFFFF, bytes));
}

TEST(SegmentTable, CountsSegmentsAndLeavesOutSkippedRecords) {
  test::TempDir dir;
  // A, B (skipped), C: the table holds A then C; a skip flag of 2 still counts.
  auto image = buildImage({segment(0x100, 10), segment(0x200, 20, 1), segment(0x300, 30, 2)});
  ASSERT_TRUE(writeImageFile(dir.file("sysbin.bin"), image));
  Table table;
  ASSERT_EQ(table.load(dir.file("sysbin.bin")), 2);
  EXPECT_EQ(table.offsets[0], 0);
  EXPECT_EQ(table.addresses[0], 0x100);
  EXPECT_EQ(table.lengths[0], 10);
  EXPECT_EQ(table.offsets[1], static_cast<std::int32_t>(image.recordOffsets[2]));
  EXPECT_EQ(table.addresses[1], 0x300);
  EXPECT_EQ(table.lengths[1], 30);

  ASSERT_TRUE(writeImageFile(dir.file("skipped.bin"), buildImage({segment(0x100, 10, 1)})));
  EXPECT_EQ(table.load(dir.file("skipped.bin")), 0);
}

TEST(SegmentTable, FollowsTheChainNotTheFileOrder) {
  test::TempDir dir;
  // Laid out 0,1,2 but chained 0 -> 2 -> 1: the chain leads backwards once.
  auto image = buildImage({segment(0xA, 5), segment(0xB, 6), segment(0xC, 7)}, {0, 2, 1});
  ASSERT_TRUE(writeImageFile(dir.file("sysbin.bin"), image));
  Table table;
  ASSERT_EQ(table.load(dir.file("sysbin.bin")), 3);
  EXPECT_EQ(table.addresses[0], 0xA);
  EXPECT_EQ(table.addresses[1], 0xC);
  EXPECT_EQ(table.addresses[2], 0xB);
}

TEST(SegmentTable, EndsTheChainAtTheFileEndOrANegativeOffset) {
  test::TempDir dir;
  auto first = segment(0x10, 4);
  first.nextOffsetOverride = -65793;  // stored as 00 00 00
  auto image = buildImage({first, segment(0x20, 4)});
  EXPECT_EQ(image.bytes[NEXT_OFFSET_AT], 0);
  ASSERT_TRUE(writeImageFile(dir.file("sysbin.bin"), image));
  Table table;
  EXPECT_EQ(table.load(dir.file("sysbin.bin")), 1);

  auto beyond = segment(0x10, 4);
  beyond.nextOffsetOverride = 100000;
  ASSERT_TRUE(writeImageFile(dir.file("beyond.bin"), buildImage({beyond, segment(0x20, 4)})));
  EXPECT_EQ(table.load(dir.file("beyond.bin")), 1);
}

TEST(SegmentTable, IgnoresTheHeaderBytesItDoesNotRead) {
  test::TempDir dir;
  auto image = buildImage({segment(0x1234, 8), segment(0x5678, 9)});
  for (std::uint32_t record : image.recordOffsets) {
    for (std::uint32_t at : {0u, 7u, 9u, 11u, 15u, 20u, 27u, 31u}) image.bytes[record + at] = 0xC3;
  }
  ASSERT_TRUE(writeImageFile(dir.file("sysbin.bin"), image));
  Table table;
  ASSERT_EQ(table.load(dir.file("sysbin.bin")), 2);
  EXPECT_EQ(table.addresses[1], 0x5678);
  EXPECT_EQ(table.lengths[1], 9);
}

TEST(SegmentTable, MissingFileOrDirectoryLeavesTheTableAlone) {
  test::TempDir dir;
  Table table;
  table.offsets[0] = 77;
  EXPECT_EQ(table.load(dir.file("nothing-here.bin")), LOAD_CANNOT_OPEN);
  EXPECT_EQ(table.offsets[0], 77);
  ASSERT_TRUE(std::filesystem::create_directory(dir.file("folder.bin")));
  EXPECT_EQ(table.load(dir.file("folder.bin")), LOAD_CANNOT_OPEN);
  EXPECT_EQ(table.offsets[0], 77);
}

TEST(SegmentTable, ShortFilesAndTruncatedHeadersEndTheChain) {
  test::TempDir dir;
  Table table;
  test::writeFileBytes(dir.file("empty.bin"), "");
  EXPECT_EQ(table.load(dir.file("empty.bin")), 0);
  test::writeFileBytes(dir.file("short.bin"), std::string(26, '\0'));
  EXPECT_EQ(table.load(dir.file("short.bin")), 0);

  // A 27-byte file holds exactly the bytes of a header the loader reads.
  auto image = buildImage({segment(0x40, 0)});
  image.bytes.resize(HEADER_BYTES_READ);
  ASSERT_TRUE(writeImageFile(dir.file("exact.bin"), image));
  EXPECT_EQ(table.load(dir.file("exact.bin")), 1);

  // The second record's header is cut off by the end of the file.
  auto cut = buildImage({segment(0x40, 4), segment(0x80, 4)});
  cut.bytes.resize(cut.recordOffsets[1] + 20);
  ASSERT_TRUE(writeImageFile(dir.file("cut.bin"), cut));
  EXPECT_EQ(table.load(dir.file("cut.bin")), 1);
}

TEST(SegmentTable, ACycleEndsAtTheFirstRecordVisitedTwice) {
  test::TempDir dir;
  auto a = segment(0x1, 4), b = segment(0x2, 4), self = segment(0x3, 4);
  b.nextOffsetOverride = 0;  // back to the first record
  ASSERT_TRUE(writeImageFile(dir.file("cycle.bin"), buildImage({a, b})));
  self.nextOffsetOverride = 0;
  ASSERT_TRUE(writeImageFile(dir.file("self.bin"), buildImage({self})));
  Table table;
  // A walk that went round the cycle would count more segments (or never
  // end, which the test's time limit catches).
  EXPECT_EQ(table.load(dir.file("cycle.bin")), 2);
  EXPECT_EQ(table.load(dir.file("self.bin")), 1);
}

TEST(SegmentTable, RefusesMoreSegmentsThanTheTableHolds) {
  test::TempDir dir;
  std::vector<ImageRecord> records;
  for (int i = 0; i < MAX_SEGMENTS; ++i) records.push_back(segment(i * 16, 1));
  ASSERT_TRUE(writeImageFile(dir.file("full.bin"), buildImage(records)));
  Table table;
  ASSERT_EQ(table.load(dir.file("full.bin")), MAX_SEGMENTS);
  EXPECT_EQ(table.addresses[127], 127 * 16);

  table.addresses[0] = -5;
  records.push_back(segment(0x9999, 1));
  ASSERT_TRUE(writeImageFile(dir.file("over.bin"), buildImage(records)));
  EXPECT_EQ(table.load(dir.file("over.bin")), LOAD_TOO_MANY_SEGMENTS);
  EXPECT_EQ(table.addresses[0], -5);

  // Skipped records do not count towards the limit.
  records.back().skipFlag = SKIP_RECORD;
  ASSERT_TRUE(writeImageFile(dir.file("skip.bin"), buildImage(records)));
  EXPECT_EQ(table.load(dir.file("skip.bin")), MAX_SEGMENTS);
}

}  // namespace
}  // namespace voltrix

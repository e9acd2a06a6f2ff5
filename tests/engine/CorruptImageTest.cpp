// Damaged and hostile system images: what the table load and the segment
// files make of each, and that none of them ever changes the image.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "engine/RunPreparation.h"
#include "tests/engine/CorruptImageFixture.h"

namespace voltrix {
namespace {

using namespace corrupt;
using test::fileExists;
using test::readFileBytes;
using test::writeFileBytes;

TEST_F(CorruptImage, AnEmptyFileHoldsNothingToExtract) {
  writeImage(std::string());
  EXPECT_EQ(load(), 0);
  EXPECT_TRUE(untouchedFrom(0));
  EXPECT_EQ(ops.extractSegment(imagePath, writeFilePath, 0, 0), EXTRACT_IMAGE_TOO_SHORT);
  EXPECT_FALSE(fileExists(writeFilePath));
}

TEST_F(CorruptImage, ExtractionNeedsTheWholeHeaderNotOnlyTheBytesTheLoadReads) {
  // 27 bytes make a countable record, but its data start only behind byte 31.
  for (std::size_t size : {std::size_t{HEADER_BYTES_READ}, std::size_t{31}, std::size_t{32}}) {
    SCOPED_TRACE(size);
    BuiltImage image = buildImage({segment(0x40, 0)});
    image.bytes.resize(size);
    writeImage(image);
    ASSERT_EQ(load(), 1);
    EXPECT_EQ(lengths[0], 0);
    EXPECT_TRUE(untouchedFrom(1));
    const bool whole = size == RECORD_HEADER_SIZE;
    EXPECT_EQ(extract(0), whole ? EXTRACT_OK : EXTRACT_IMAGE_TOO_SHORT);
    EXPECT_EQ(fileExists(writeFilePath), whole);
    expectImageUnchanged();
  }
}

TEST_F(CorruptImage, OnlyASkipFlagOfExactlyOneSkips) {
  for (int flag : {0, 1, 255}) {
    SCOPED_TRACE(flag);
    writeImage(buildImage({segment(0x10, 4, static_cast<std::uint8_t>(flag))}));
    EXPECT_EQ(load(), flag == SKIP_RECORD ? 0 : 1);
  }
}

TEST_F(CorruptImage, TheHighestNextOffsetReachesARecordAtTheFarEndOfABigImage) {
  ImageRecord first = segment(0x10, 4);
  first.nextOffsetOverride = kHighest;
  std::string bytes = asString(buildImage({first}));
  ASSERT_EQ(static_cast<std::uint8_t>(bytes[NEXT_OFFSET_AT]), 0xFF);
  // The last record the format can address, its data the file's last bytes.
  ImageRecord last = segment(0x20, 4);
  last.nextOffsetOverride = kLowest;
  const std::string lastBytes = asString(buildImage({last}));
  bytes.resize(static_cast<std::size_t>(kHighest), '\0');
  writeImage(bytes + lastBytes);
  ASSERT_EQ(load(), 2);
  EXPECT_EQ(offsets[1], kHighest);
  EXPECT_EQ(addresses[1], 0x20);
  EXPECT_EQ(extract(1), EXTRACT_OK);
  EXPECT_EQ(readFileBytes(writeFilePath).size(), 4u);
}

TEST_F(CorruptImage, LoadAddressesAtTheEncodingsExtremesAreKeptAsDecoded) {
  writeImage(buildImage({segment(kLowest, 2), segment(kHighest, 2), segment(0, 2)}));
  ASSERT_EQ(load(), 3);
  EXPECT_EQ(addresses[0], -65793);
  EXPECT_EQ(addresses[1], 0xFEFEFE);
  EXPECT_EQ(addresses[2], 0);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(extract(i), EXTRACT_OK) << i;
}

TEST_F(CorruptImage, DataLengthsThatDecodeNegativeOrHugeAreRefusedAtExtraction) {
  struct Case {
    std::int32_t length;
    int extracted;
  };
  const Case cases[] = {{kLowest, EXTRACT_IMAGE_TOO_SHORT},
                        {kHighest, EXTRACT_IMAGE_TOO_SHORT},
                        {-1, EXTRACT_IMAGE_TOO_SHORT},  // stored as 01 01 00
                        {0, EXTRACT_OK}};               // stored as 01 01 01
  std::vector<ImageRecord> records;
  for (const Case& c : cases) {
    records.push_back(segment(0x100, 8));
    records.back().lengthOverride = c.length;
  }
  writeImage(buildImage(records));
  // The load takes lengths as they are; only extraction holds them against the file.
  ASSERT_EQ(load(), 4);
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(lengths[i], cases[i].length);
    EXPECT_EQ(extract(i), cases[i].extracted);
    EXPECT_EQ(fileExists(writeFilePath), cases[i].extracted == EXTRACT_OK);
  }
}

TEST_F(CorruptImage, ACycleThroughSeveralRecordsCountsEachRecordOnce) {
  // Chain 0 -> 1 -> 2 -> 3 (skipped) -> 4 -> back to 2.
  std::vector<ImageRecord> records = {segment(0xA, 4), segment(0xB, 4), segment(0xC, 4),
                                      segment(0xD, 4, SKIP_RECORD), segment(0xE, 4)};
  const BuiltImage layout = buildImage(records);
  records[4].nextOffsetOverride = static_cast<std::int32_t>(layout.recordOffsets[2]);
  writeImage(buildImage(records));
  ASSERT_EQ(load(), 4);
  EXPECT_EQ(addresses[0], 0xA);
  EXPECT_EQ(addresses[2], 0xC);
  EXPECT_EQ(addresses[3], 0xE);
  EXPECT_EQ(offsets[3], static_cast<std::int32_t>(layout.recordOffsets[4]));
  EXPECT_TRUE(untouchedFrom(4));
}

TEST_F(CorruptImage, TheSegmentLimitCountsRecordsNotVisits) {
  std::vector<ImageRecord> records;
  for (int i = 0; i < MAX_SEGMENTS; ++i) records.push_back(segment(i, 1));
  // A full table whose chain then returns to its start is not too long.
  const BuiltImage layout = buildImage(records);
  records.back().nextOffsetOverride = static_cast<std::int32_t>(layout.recordOffsets[5]);
  writeImage(buildImage(records));
  EXPECT_EQ(load(), MAX_SEGMENTS);

  // A 129th segment reached by a jump backwards is; nothing of it is kept.
  records.back().nextOffsetOverride.reset();
  records.push_back(segment(0x999, 1));
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i + 2 < records.size(); ++i) order.push_back(i);
  order.push_back(records.size() - 1);
  order.push_back(records.size() - 2);
  writeImage(buildImage(records, order));
  resetTable();
  EXPECT_EQ(load(), LOAD_TOO_MANY_SEGMENTS);
  EXPECT_TRUE(untouchedFrom(0));
}

TEST_F(CorruptImage, OnlyTheSegmentWhoseDataRunPastTheEndIsRefused) {
  ImageRecord last = segment(0x30, 10);
  last.lengthOverride = 11;
  ImageRecord reaching = segment(0x10, 2);
  reaching.lengthOverride = 2 + 32;  // into the next record: still within the file
  const BuiltImage image = buildImage({reaching, segment(0x20, 6), last});
  writeImage(image);
  ASSERT_EQ(load(), 3);
  ASSERT_EQ(extract(0), EXTRACT_OK);
  const std::string written = readFileBytes(writeFilePath);
  ASSERT_EQ(written.size(), 34u);
  EXPECT_EQ(static_cast<std::uint8_t>(written[2 + SKIP_FLAG_AT]), transformByte(0));
  EXPECT_EQ(extract(1), EXTRACT_OK);
  EXPECT_EQ(extract(2), EXTRACT_IMAGE_TOO_SHORT);
  EXPECT_FALSE(fileExists(writeFilePath));
}

TEST_F(CorruptImage, ARunRefusesTheWholeImageForAnyDamagedSegment) {
  struct Case {
    const char* name;
    std::int32_t address;  // of the second of three segments
    std::optional<std::int32_t> length;
    Refusal refusal;
  };
  const Case cases[] = {
      {"sound", 0x200, {}, Refusal::None},
      {"lowest address", 0, {}, Refusal::None},
      {"highest address", kHighest, {}, Refusal::None},
      {"negative address", -1, {}, Refusal::LoadAddressDamaged},  // stored as 01 01 00
      {"lowest encoding", kLowest, {}, Refusal::LoadAddressDamaged},
      {"negative length", 0x200, -1, Refusal::SegmentPastEnd},
      {"past the end", 0x200, 1000, Refusal::SegmentPastEnd},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ImageRecord middle = segment(c.address, 8);
    middle.lengthOverride = c.length;
    writeImage(buildImage({segment(0x100, 8), middle, segment(0x300, 8)}));
    DownloadState state;
    EXPECT_EQ(prepareRun(state, imagePath, dir.path()), c.refusal);
    if (c.refusal != Refusal::None) {
      EXPECT_TRUE(state.runFolder.empty());
    } else {
      discardRunFolder(state);
    }
    expectImageUnchanged();
  }
}

}  // namespace
}  // namespace voltrix

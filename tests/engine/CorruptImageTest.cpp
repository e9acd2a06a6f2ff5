// Damaged and hostile system images: what the table load and the segment
// files make of each, and that none of them ever changes the image.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/FileDescriptor_posix.h"
#include "engine/ImageFileOps.h"
#include "sim/ImageBuilder.h"
#include "tests/support/TempDir.h"

namespace voltrix {
namespace {

using test::fileExists;
using test::readFileBytes;
using test::writeFileBytes;

constexpr const char* kImage = "sysbin.bin";
constexpr const char* kWriteFile = "F_1_W_sysbin.bin";
constexpr std::int32_t kUntouched = 0x7EADBEEF;
constexpr std::int32_t kLowest = -BIASED_24_BIAS;             // stored as 00 00 00
constexpr std::int32_t kHighest = 0xFFFFFF - BIASED_24_BIAS;  // stored as FF FF FF

ImageRecord segment(std::int32_t address, std::size_t length, std::uint8_t skip = 0) {
  ImageRecord record;
  record.skipFlag = skip;
  record.loadAddress = address;
  for (std::size_t i = 0; i < length; ++i) record.data.push_back(static_cast<std::uint8_t>(i * 3));
  return record;
}

std::string asString(const BuiltImage& image) {
  return std::string(image.bytes.begin(), image.bytes.end());
}

// Runs `body` under ordinary file permissions and returns what it reported:
// here when we are not root, otherwise in a child that has become "nobody",
// since root reads and writes whatever the permissions say. nullopt when the
// privileges cannot be dropped.
std::optional<std::vector<int>> withoutPrivileges(const std::function<std::vector<int>()>& body) {
  if (::geteuid() != 0) return body();
  const passwd* nobody = ::getpwnam("nobody");
  if (nobody == nullptr) return std::nullopt;
  const uid_t uid = nobody->pw_uid;
  const gid_t gid = nobody->pw_gid;
  constexpr int kCannotDrop = 77;
  int ends[2];
  if (::pipe(ends) != 0) return std::nullopt;
  FileDescriptor readEnd(ends[0]), writeEnd(ends[1]);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
      ::_exit(kCannotDrop);
    }
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
    return std::nullopt;
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the unprivileged child failed";
  return values;
}

class CorruptImage : public ::testing::Test {
 protected:
  CorruptImage() { resetTable(); }
  void resetTable() {
    offsets.fill(kUntouched);
    addresses.fill(kUntouched);
    lengths.fill(kUntouched);
  }
  // Writes the image and remembers it: no call of the engine may change it.
  void writeImage(const std::string& bytes) {
    writeFileBytes(kImage, bytes);
    original_ = bytes;
    written_ = true;
  }
  void writeImage(const BuiltImage& image) { writeImage(asString(image)); }
  void expectImageUnchanged() {
    if (written_) {
      EXPECT_TRUE(readFileBytes(kImage) == original_) << "the image was modified";
    }
  }
  void TearDown() override { expectImageUnchanged(); }

  std::int32_t load(const char* name = kImage) {
    return ops.loadSegmentTable(name, offsets, addresses, lengths);
  }
  // Extracts table entry `entry` into a write file that did not exist before.
  int extract(std::size_t entry) {
    ::unlink(kWriteFile);
    return ops.extractSegment(kImage, kWriteFile, static_cast<std::uint32_t>(offsets[entry]),
                              static_cast<std::uint32_t>(lengths[entry]));
  }
  // Whether the load left every entry from `first` on as it found it.
  bool untouchedFrom(std::int32_t first) const {
    for (int i = first; i < MAX_SEGMENTS; ++i) {
      if (offsets[i] != kUntouched || addresses[i] != kUntouched || lengths[i] != kUntouched) {
        return false;
      }
    }
    return true;
  }

  test::TempDir dir;
  ImageFileOps ops;
  SegmentColumn offsets, addresses, lengths;

 private:
  std::string original_;
  bool written_ = false;
};

TEST_F(CorruptImage, AnEmptyFileHoldsNothingToExtract) {
  writeImage(std::string());
  EXPECT_EQ(load(), 0);
  EXPECT_TRUE(untouchedFrom(0));
  EXPECT_EQ(ops.extractSegment(kImage, kWriteFile, 0, 0), EXTRACT_IMAGE_TOO_SHORT);
  EXPECT_FALSE(fileExists(kWriteFile));
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
    EXPECT_EQ(fileExists(kWriteFile), whole);
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
  EXPECT_EQ(readFileBytes(kWriteFile).size(), 4u);
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
    EXPECT_EQ(fileExists(kWriteFile), cases[i].extracted == EXTRACT_OK);
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
  const std::string written = readFileBytes(kWriteFile);
  ASSERT_EQ(written.size(), 34u);
  EXPECT_EQ(static_cast<std::uint8_t>(written[2 + SKIP_FLAG_AT]), transformByte(0));
  EXPECT_EQ(extract(1), EXTRACT_OK);
  EXPECT_EQ(extract(2), EXTRACT_IMAGE_TOO_SHORT);
  EXPECT_FALSE(fileExists(kWriteFile));
}

TEST_F(CorruptImage, ADirectoryOrAFifoUnderTheImageNameIsNotOpened) {
  ASSERT_EQ(::mkdir(kImage, 0755), 0);
  EXPECT_EQ(ops.extractSegment(kImage, kWriteFile, 0, 0), EXTRACT_CANNOT_OPEN);
  EXPECT_FALSE(fileExists(kWriteFile));

  // Opening a FIFO for reading used to wait for a writer that never came.
  ASSERT_EQ(::mkfifo("pipe.bin", 0644), 0);
  writeFileBytes("plain", "x");
  EXPECT_EQ(load("pipe.bin"), LOAD_CANNOT_OPEN);
  EXPECT_TRUE(untouchedFrom(0));
  EXPECT_EQ(ops.extractSegment("pipe.bin", kWriteFile, 0, 0), EXTRACT_CANNOT_OPEN);
  EXPECT_FALSE(fileExists(kWriteFile));
  EXPECT_EQ(ops.compareSegmentFiles("pipe.bin", "plain"), COMPARE_CANNOT_OPEN);
  EXPECT_EQ(ops.compareSegmentFiles("plain", "pipe.bin"), COMPARE_CANNOT_OPEN);
}

TEST_F(CorruptImage, AnImageWithoutReadPermissionIsNotOpened) {
  writeImage(buildImage({segment(0x10, 4)}));
  ASSERT_EQ(::chmod(kImage, 0200), 0);
  ASSERT_EQ(::chmod(".", 0777), 0);  // the write file could be made: it must not be
  const auto seen = withoutPrivileges([this] {
    const int readable = ::access(kImage, R_OK) == 0;
    const int loaded = load();
    const int untouched = untouchedFrom(0);
    const int extracted = ops.extractSegment(kImage, kWriteFile, 0, 4);
    return std::vector<int>{readable, loaded, untouched, extracted, fileExists(kWriteFile)};
  });
  ASSERT_EQ(::chmod(kImage, 0644), 0);
  if (!seen) GTEST_SKIP() << "cannot drop root privileges";
  ASSERT_EQ(seen->size(), 5u);
  if ((*seen)[0] != 0) GTEST_SKIP() << "permissions do not restrict this user";
  EXPECT_EQ((*seen)[1], LOAD_CANNOT_OPEN);
  EXPECT_EQ((*seen)[2], 1) << "the table was changed";
  EXPECT_EQ((*seen)[3], EXTRACT_CANNOT_OPEN);
  EXPECT_EQ((*seen)[4], 0) << "a write file was made";
}

TEST_F(CorruptImage, AWorkingDirectoryWithoutWritePermissionGetsNoWriteFile) {
  writeImage(buildImage({segment(0x10, 4), segment(0x20, 3)}));
  writeFileBytes("F_2_W_sysbin.bin", "old");
  std::string readBack;
  for (char c : std::string("old")) {
    readBack.push_back(static_cast<char>(transformByte(static_cast<std::uint8_t>(c))));
  }
  writeFileBytes("F_2_R_sysbin.bin", readBack);
  ASSERT_EQ(::chmod(".", 0555), 0);
  const auto seen = withoutPrivileges([this] {
    const int writable = ::access(".", W_OK) == 0;
    const int loaded = load();
    const int first = extract(0);
    const int made = fileExists(kWriteFile);
    const int second =
        ops.extractSegment(kImage, "F_2_W_sysbin.bin", static_cast<std::uint32_t>(offsets[1]), 3);
    const int oldKept = readFileBytes("F_2_W_sysbin.bin") == "old";
    const int compared = ops.compareSegmentFiles("F_2_W_sysbin.bin", "F_2_R_sysbin.bin");
    return std::vector<int>{writable, loaded, first, made, second, oldKept, compared};
  });
  ASSERT_EQ(::chmod(".", 0755), 0);
  if (!seen) GTEST_SKIP() << "cannot drop root privileges";
  ASSERT_EQ(seen->size(), 7u);
  if ((*seen)[0] != 0) GTEST_SKIP() << "permissions do not restrict this user";
  EXPECT_EQ((*seen)[1], 2);
  EXPECT_EQ((*seen)[2], EXTRACT_CANNOT_OPEN);
  EXPECT_EQ((*seen)[3], 0) << "a write file was made";
  EXPECT_EQ((*seen)[4], EXTRACT_CANNOT_OPEN);
  EXPECT_EQ((*seen)[5], 1) << "the old write file was changed";
  EXPECT_EQ((*seen)[6], COMPARE_EQUAL) << "comparing needs no write permission";
}

}  // namespace
}  // namespace voltrix

#pragma once
// One damaged image at a time in a fresh folder, with a table that shows
// which entries a load wrote; the image must come out of every call as it
// went in.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/ImageFileOps.h"
#include "sim/ImageBuilder.h"
#include "tests/support/TempDir.h"

namespace voltrix::corrupt {

using test::readFileBytes;
using test::writeFileBytes;

inline constexpr std::int32_t kUntouched = 0x7EADBEEF;
inline constexpr std::int32_t kLowest = -BIASED_24_BIAS;             // stored as 00 00 00
inline constexpr std::int32_t kHighest = 0xFFFFFF - BIASED_24_BIAS;  // stored as FF FF FF

inline ImageRecord segment(std::int32_t address, std::size_t length, std::uint8_t skip = 0) {
  ImageRecord record;
  record.skipFlag = skip;
  record.loadAddress = address;
  for (std::size_t i = 0; i < length; ++i) record.data.push_back(static_cast<std::uint8_t>(i * 3));
  return record;
}

inline std::string asString(const BuiltImage& image) {
  return std::string(image.bytes.begin(), image.bytes.end());
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
    writeFileBytes(imagePath, bytes);
    original_ = bytes;
    written_ = true;
  }
  void writeImage(const BuiltImage& image) { writeImage(asString(image)); }
  void expectImageUnchanged() {
    if (written_) {
      EXPECT_TRUE(readFileBytes(imagePath) == original_) << "the image was modified";
    }
  }
  void TearDown() override { expectImageUnchanged(); }

  std::int32_t load() { return load(imagePath); }
  std::int32_t load(const std::string& name) {
    return ops.loadSegmentTable(name, offsets, addresses, lengths);
  }
  // Extracts table entry `entry` into a write file that did not exist before.
  int extract(std::size_t entry) {
    std::remove(writeFilePath.c_str());
    return ops.extractSegment(imagePath, writeFilePath, static_cast<std::uint32_t>(offsets[entry]),
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
  // The image and the first write file, in the test's folder.
  const std::string imagePath = dir.file("sysbin.bin");
  const std::string writeFilePath = dir.file("F_1_W_sysbin.bin");
  ImageFileOps ops;
  SegmentColumn offsets, addresses, lengths;

 private:
  std::string original_;
  bool written_ = false;
};

}  // namespace voltrix::corrupt

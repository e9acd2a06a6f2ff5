#include "sim/ImageBuilder.h"

#include <fstream>
#include <numeric>

#include "engine/ImageFileOps.h"

namespace voltrix {

namespace {

void putBiased(std::vector<std::uint8_t>& bytes, std::size_t at, std::int32_t value) {
  std::uint8_t encoded[3] = {0, 0, 0};
  // Values that cannot be encoded are written as the nearest extreme, which
  // lets tests produce the boundary bytes 00 00 00 and FF FF FF on purpose.
  if (!encodeBiased24(value, encoded)) {
    const std::uint8_t fill = value < 0 ? 0x00 : 0xFF;
    encoded[0] = encoded[1] = encoded[2] = fill;
  }
  bytes[at] = encoded[0];
  bytes[at + 1] = encoded[1];
  bytes[at + 2] = encoded[2];
}

}  // namespace

BuiltImage buildImage(const std::vector<ImageRecord>& records,
                      const std::vector<std::size_t>& chainOrder) {
  BuiltImage image;
  for (const ImageRecord& record : records) {
    image.recordOffsets.push_back(static_cast<std::uint32_t>(image.bytes.size()));
    const std::size_t start = image.bytes.size();
    image.bytes.resize(start + RECORD_HEADER_SIZE, 0);
    // The bytes the loader never reads carry a recognisable filler.
    for (std::size_t i = 0; i < RECORD_HEADER_SIZE; ++i) image.bytes[start + i] = 0x5A;
    image.bytes[start + SKIP_FLAG_AT] = record.skipFlag;
    putBiased(image.bytes, start + LOAD_ADDRESS_AT, record.loadAddress);
    putBiased(image.bytes, start + DATA_LENGTH_AT,
              record.lengthOverride.value_or(static_cast<std::int32_t>(record.data.size())));
    image.bytes.insert(image.bytes.end(), record.data.begin(), record.data.end());
  }

  std::vector<std::size_t> order = chainOrder;
  if (order.empty()) {
    order.resize(records.size());
    std::iota(order.begin(), order.end(), 0);
  }
  const auto fileEnd = static_cast<std::int32_t>(image.bytes.size());
  for (std::size_t i = 0; i < order.size(); ++i) {
    const std::size_t index = order[i];
    const std::int32_t next = i + 1 < order.size()
                                  ? static_cast<std::int32_t>(image.recordOffsets[order[i + 1]])
                                  : fileEnd;
    putBiased(image.bytes, image.recordOffsets[index] + NEXT_OFFSET_AT,
              records[index].nextOffsetOverride.value_or(next));
  }
  // Records left out of the chain still get their own override, or the end.
  for (std::size_t index = 0; index < records.size(); ++index) {
    bool chained = false;
    for (std::size_t o : order) chained = chained || o == index;
    if (!chained) {
      putBiased(image.bytes, image.recordOffsets[index] + NEXT_OFFSET_AT,
                records[index].nextOffsetOverride.value_or(fileEnd));
    }
  }
  return image;
}

bool writeImageFile(const std::string& path, const BuiltImage& image) {
  // Truncated in place, not replaced: a test may overwrite an image that is
  // being read.
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(image.bytes.data()),
             static_cast<std::streamsize>(image.bytes.size()));
  file.close();
  return !file.fail();
}

BuiltImage sampleImage() {
  std::vector<ImageRecord> records;
  const std::uint32_t lengths[] = {1000, 64, 0, 37, 2048, 129};
  std::int32_t address = 0x010000;
  std::uint32_t seed = 0x2545F491;
  for (std::uint32_t length : lengths) {
    ImageRecord record;
    record.loadAddress = address;
    for (std::uint32_t i = 0; i < length; ++i) {
      seed = seed * 1664525u + 1013904223u;
      record.data.push_back(static_cast<std::uint8_t>(seed >> 24));
    }
    records.push_back(record);
    address += 0x1000;
  }
  // One skipped record, as real images carry a descriptor the device never gets.
  records.insert(records.begin() + 2, ImageRecord{SKIP_RECORD, 0, {1, 2, 3, 4}, {}, {}});
  return buildImage(records);
}

}  // namespace voltrix

// Writes the image fuzzer's seed inputs into the directory given as the only
// argument: well-formed images and images damaged in the ways a chain or a
// header can go wrong, so that fuzzing starts next to every boundary.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/ImageFileOps.h"
#include "sim/ImageBuilder.h"

namespace voltrix {
namespace {

ImageRecord segment(std::int32_t address, std::size_t length, std::uint8_t skip = 0) {
  ImageRecord record;
  record.skipFlag = skip;
  record.loadAddress = address;
  for (std::size_t i = 0; i < length; ++i) {
    record.data.push_back(static_cast<std::uint8_t>(i * 37 + address));
  }
  return record;
}

BuiltImage withLength(std::int32_t length) {
  ImageRecord record = segment(0x100, 16);
  record.lengthOverride = length;
  return buildImage({record, segment(0x200, 8)});
}

BuiltImage withNextOffset(std::int32_t next) {
  ImageRecord record = segment(0x100, 8);
  record.nextOffsetOverride = next;
  return buildImage({record, segment(0x200, 8)});
}

BuiltImage manySegments(int count) {
  std::vector<ImageRecord> records;
  for (int i = 0; i < count; ++i) records.push_back(segment(i * 16, 1));
  return buildImage(records);
}

BuiltImage cut(BuiltImage image, std::size_t size) {
  image.bytes.resize(size);
  return image;
}

int writeAll(const std::string& dir) {
  const BuiltImage three = buildImage({segment(0x1000, 40), segment(0x2000, 9), segment(0, 0)});
  ImageRecord back = segment(0x30, 4);
  // Back to the second record of "cycle-three", behind a first of 4 data bytes.
  back.nextOffsetOverride = RECORD_HEADER_SIZE + 4;
  ImageRecord self = segment(0x40, 4);
  self.nextOffsetOverride = 0;
  ImageRecord over = segment(0x50, 12);
  over.lengthOverride = 13;  // one byte more than the file holds
  ImageRecord addressLow = segment(0, 2), addressHigh = segment(0, 2);
  addressLow.loadAddress = -BIASED_24_BIAS;
  addressHigh.loadAddress = 0xFFFFFF - BIASED_24_BIAS;

  const std::vector<std::pair<const char*, BuiltImage>> seeds = {
      {"valid-three", three},
      {"valid-sample", sampleImage()},
      {"valid-long-segment", buildImage({segment(0x10, 5000), segment(0x20, 3)})},
      {"skipped-records", buildImage({segment(1, 3, 1), segment(2, 3, 0), segment(3, 3, 1),
                                      segment(4, 3, 255), segment(5, 3, 2)})},
      {"backwards-chain", buildImage({segment(1, 5), segment(2, 6), segment(3, 7)}, {0, 2, 1})},
      {"cycle-three", buildImage({segment(1, 4), segment(2, 4), back})},
      {"cycle-to-start", buildImage({segment(1, 4), self})},
      {"self-loop", buildImage({self})},
      {"segments-128", manySegments(MAX_SEGMENTS)},
      {"segments-129", manySegments(MAX_SEGMENTS + 1)},
      {"truncated-header", cut(three, three.recordOffsets[1] + 20)},
      {"length-negative", withLength(-1)},
      {"length-lowest", withLength(-BIASED_24_BIAS)},
      {"length-highest", withLength(0xFFFFFF - BIASED_24_BIAS)},
      {"length-zero-bytes-010101", withLength(0)},
      {"segment-past-end", buildImage({segment(0x10, 6), over})},
      {"next-offset-lowest", withNextOffset(-BIASED_24_BIAS)},
      {"next-offset-highest", withNextOffset(0xFFFFFF - BIASED_24_BIAS)},
      {"load-address-extremes", buildImage({addressLow, addressHigh})},
      {"empty", BuiltImage{}},
      {"bytes-26", cut(buildImage({segment(0x60, 0)}), HEADER_BYTES_READ - 1)},
      {"bytes-27", cut(buildImage({segment(0x60, 0)}), HEADER_BYTES_READ)},
      {"header-only", buildImage({segment(0x60, 0)})},
  };
  for (const auto& [name, image] : seeds) {
    const std::string path = dir + "/" + name;
    if (!writeImageFile(path, image)) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}

}  // namespace
}  // namespace voltrix

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
    return 2;
  }
  return voltrix::writeAll(argv[1]);
}

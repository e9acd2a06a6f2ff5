#include <array>
#include <new>
#include <vector>

#include "platform/FileIo.h"
#include "engine/ImageFileOps.h"

namespace voltrix {

bool segmentFitsImage(std::uint32_t offset, std::uint32_t length, std::uint64_t imageLength) {
  const std::uint64_t dataStart = std::uint64_t{offset} + RECORD_HEADER_SIZE;
  return length <= MAX_SEGMENT_LENGTH && dataStart <= imageLength &&
         length <= imageLength - dataStart;
}

std::int32_t firstSegmentPastEnd(std::uint64_t imageLength, const SegmentColumn& offsets,
                                 const SegmentColumn& lengths, std::int32_t count) {
  for (std::int32_t i = 0; i < count && i < MAX_SEGMENTS; ++i) {
    if (!segmentFitsImage(static_cast<std::uint32_t>(offsets[i]),
                          static_cast<std::uint32_t>(lengths[i]), imageLength)) {
      return i;
    }
  }
  return -1;
}

std::int32_t firstNegativeLoadAddress(const SegmentColumn& addresses, std::int32_t count) {
  for (std::int32_t i = 0; i < count && i < MAX_SEGMENTS; ++i) {
    if (addresses[i] < 0) return i;
  }
  return -1;
}

int ImageFileOps::extractSegment(const std::string& imageName, const std::string& writeFileName,
                                 std::uint32_t offset, std::uint32_t length) {
  File image = openForReading(imageName);
  if (!image) return EXTRACT_CANNOT_OPEN;
  const std::optional<std::uint64_t> imageLength = image.size();
  if (!imageLength) return EXTRACT_CANNOT_OPEN;

  // Refuse a segment whose data the image does not hold in full: the device
  // must never be sent bytes the image did not supply.
  if (!segmentFitsImage(offset, length, *imageLength)) return EXTRACT_IMAGE_TOO_SHORT;
  const std::uint64_t dataStart = std::uint64_t{offset} + RECORD_HEADER_SIZE;
  if (!image.seek(dataStart)) return EXTRACT_CANNOT_OPEN;

  std::vector<std::uint8_t> segment;
  try {
    segment.resize(length);
  } catch (const std::bad_alloc&) {
    return EXTRACT_CANNOT_OPEN;
  }
  if (image.readFully(segment.data(), length) != static_cast<long long>(length)) {
    return EXTRACT_IMAGE_TOO_SHORT;
  }
  for (std::uint8_t& b : segment) b = transformByte(b);

  File writeFile = createFreshFile(writeFileName);
  if (!writeFile) return EXTRACT_CANNOT_OPEN;
  if (!writeFile.writeFully(segment.data(), segment.size())) return EXTRACT_CANNOT_OPEN;
  return EXTRACT_OK;
}

int ImageFileOps::compareSegmentFiles(const std::string& writeFileName,
                                      const std::string& readBackFileName) {
  File first = openForReading(writeFileName);
  if (!first) return COMPARE_CANNOT_OPEN;
  File second = openForReading(readBackFileName);
  if (!second) return COMPARE_CANNOT_OPEN;

  // Both files are read in step, block by block; the write file's length
  // alone decides how far the comparison goes.
  std::array<std::uint8_t, 4096> a{}, b{};
  for (;;) {
    const long long gotA = first.readFully(a.data(), a.size());
    if (gotA < 0) return COMPARE_CANNOT_OPEN;
    if (gotA == 0) return COMPARE_EQUAL;
    const long long gotB = second.readFully(b.data(), static_cast<std::size_t>(gotA));
    if (gotB < 0) return COMPARE_CANNOT_OPEN;
    for (long long i = 0; i < gotA; ++i) {
      // A read-back file that ends early holds no byte to agree with.
      if (i >= gotB || transformByte(a[i]) != b[i]) return COMPARE_DIFFERENT;
    }
  }
}

}  // namespace voltrix

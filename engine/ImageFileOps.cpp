#include "engine/ImageFileOps.h"

#include <algorithm>
#include <new>
#include <vector>

#include "platform/FileIo.h"

namespace voltrix {

std::int32_t decodeBiased24(const std::uint8_t* bytes) {
  const std::int32_t raw =
      (std::int32_t{bytes[0]} << 16) | (std::int32_t{bytes[1]} << 8) | bytes[2];
  return raw - BIASED_24_BIAS;
}

bool encodeBiased24(std::int32_t value, std::uint8_t* bytes) {
  const std::int64_t raw = std::int64_t{value} + BIASED_24_BIAS;
  if (raw < 0 || raw > 0xFFFFFF) return false;
  bytes[0] = static_cast<std::uint8_t>(raw >> 16);
  bytes[1] = static_cast<std::uint8_t>(raw >> 8);
  bytes[2] = static_cast<std::uint8_t>(raw);
  return true;
}

std::int32_t ImageFileOps::loadSegmentTable(const std::string& fileName,
                                            SegmentColumn& segmentOffsets,
                                            SegmentColumn& segmentAddresses,
                                            SegmentColumn& segmentLengths) {
  File file = openForReading(fileName);
  if (!file) return LOAD_CANNOT_OPEN;
  const std::optional<std::uint64_t> size = file.size();
  if (!size) return LOAD_READ_ERROR;
  const std::uint64_t fileLength = *size;

  std::vector<std::uint8_t> buffer;
  try {
    buffer.resize(static_cast<std::size_t>(std::min(fileLength, PARSED_IMAGE_PREFIX)));
  } catch (const std::bad_alloc&) {
    return LOAD_READ_ERROR;
  }
  const long long got = file.readFully(buffer.data(), buffer.size());
  if (got < 0) return LOAD_READ_ERROR;
  buffer.resize(static_cast<std::size_t>(got));
  file.close();

  SegmentColumn offsets{}, addresses{}, lengths{};
  // A chain may lead backwards to a record not yet seen, but never to one
  // already visited: that would go round for ever.
  std::vector<bool> visited(buffer.size(), false);
  std::int32_t count = 0;
  std::uint32_t offset = 0;
  for (;;) {
    // A header that does not lie wholly within the file ends the chain.
    if (std::uint64_t{offset} + HEADER_BYTES_READ > buffer.size()) break;
    if (visited[offset]) break;
    visited[offset] = true;
    const std::uint8_t* record = buffer.data() + offset;
    if (record[SKIP_FLAG_AT] != SKIP_RECORD) {
      if (count == MAX_SEGMENTS) return LOAD_TOO_MANY_SEGMENTS;
      offsets[count] = static_cast<std::int32_t>(offset);
      addresses[count] = decodeBiased24(record + LOAD_ADDRESS_AT);
      lengths[count] = decodeBiased24(record + DATA_LENGTH_AT);
      ++count;
    }
    // A negative next offset is beyond any file length once taken unsigned.
    offset = static_cast<std::uint32_t>(decodeBiased24(record + NEXT_OFFSET_AT));
    if (offset >= fileLength) break;
  }
  std::copy_n(offsets.begin(), count, segmentOffsets.begin());
  std::copy_n(addresses.begin(), count, segmentAddresses.begin());
  std::copy_n(lengths.begin(), count, segmentLengths.begin());
  return count;
}

}  // namespace voltrix

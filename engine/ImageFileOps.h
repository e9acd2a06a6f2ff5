#pragma once
// The system image: a chain of records, each a 32-byte header followed by the
// data of one segment. ImageFileOps walks the chain into the segment table,
// cuts a segment out into its write file and compares a segment's two files.

#include <cstdint>
#include <string>

#include "engine/DownloadState.h"

namespace voltrix {

// Header layout of one record (offsets from the record's start).
inline constexpr std::uint32_t RECORD_HEADER_SIZE = 32;
inline constexpr std::uint32_t SKIP_FLAG_AT = 8;
inline constexpr std::uint32_t NEXT_OFFSET_AT = 12;
inline constexpr std::uint32_t LOAD_ADDRESS_AT = 21;
inline constexpr std::uint32_t DATA_LENGTH_AT = 24;
// The last header byte the loader reads is byte 26.
inline constexpr std::uint32_t HEADER_BYTES_READ = 27;
inline constexpr std::uint8_t SKIP_RECORD = 1;

// The image's only number encoding: three bytes, most significant first,
// minus 0x10101 over the whole 24-bit value.
inline constexpr std::int32_t BIASED_24_BIAS = 0x10101;
std::int32_t decodeBiased24(const std::uint8_t* bytes);
// The three bytes that decode to `value`; false when it cannot be encoded.
bool encodeBiased24(std::int32_t value, std::uint8_t* bytes);

// The longest segment a record can describe; a longer length is a negative
// one read as unsigned.
inline constexpr std::uint32_t MAX_SEGMENT_LENGTH = 0xFFFFFF - BIASED_24_BIAS;

// Whether the `length` data bytes of the record at `offset` lie wholly inside
// an image of `imageLength` bytes. A length no record can hold is a negative
// one read as unsigned, and never fits.
bool segmentFitsImage(std::uint32_t offset, std::uint32_t length, std::uint64_t imageLength);

// The index of the first segment of the table whose data run past the end of
// an image of `imageLength` bytes; -1 when every segment fits.
std::int32_t firstSegmentPastEnd(std::uint64_t imageLength, const SegmentColumn& offsets,
                                 const SegmentColumn& lengths, std::int32_t count);

// The index of the first segment whose load address decodes negative (stored
// below 0x10101): the device would take its low 24 bits and put the segment
// near the top of its memory. -1 when every address is sound.
std::int32_t firstNegativeLoadAddress(const SegmentColumn& addresses, std::int32_t count);

// No header can start beyond the largest offset a biased 24-bit number
// encodes, so nothing past this prefix of an image is ever parsed, and no
// segment's data reach past the prefix, one header and the longest segment.
inline constexpr std::uint64_t PARSED_IMAGE_PREFIX = 16u * 1024u * 1024u;
inline constexpr std::uint64_t USABLE_IMAGE_PREFIX =
    PARSED_IMAGE_PREFIX + RECORD_HEADER_SIZE + MAX_SEGMENT_LENGTH;

// The segment byte transform b -> (14 - b) mod 256; it is its own inverse.
constexpr std::uint8_t transformByte(std::uint8_t b) {
  return static_cast<std::uint8_t>(14 - b);
}

// Results of loadSegmentTable besides the segment count 0..128.
inline constexpr std::int32_t LOAD_CANNOT_OPEN = -1;
inline constexpr std::int32_t LOAD_TOO_MANY_SEGMENTS = -2;
inline constexpr std::int32_t LOAD_READ_ERROR = -3;

// Results of extractSegment.
inline constexpr int EXTRACT_OK = 0;
inline constexpr int EXTRACT_CANNOT_OPEN = 1;
inline constexpr int EXTRACT_IMAGE_TOO_SHORT = 2;

// Results of compareSegmentFiles.
inline constexpr int COMPARE_EQUAL = 0;
inline constexpr int COMPARE_DIFFERENT = 1;
inline constexpr int COMPARE_CANNOT_OPEN = 2;

class ImageFileOps {
 public:
  virtual ~ImageFileOps() = default;

  // Walks the record chain of `fileName` into the three table columns.
  // Returns the number of segments (0..128), LOAD_CANNOT_OPEN when the file
  // cannot be opened, LOAD_TOO_MANY_SEGMENTS when the chain holds more
  // segments than the table has room for, LOAD_READ_ERROR when it was opened
  // but could not be read. The table is changed only when a count is returned.
  std::int32_t loadSegmentTable(const std::string& fileName, SegmentColumn& segmentOffsets,
                                SegmentColumn& segmentAddresses, SegmentColumn& segmentLengths);

  // Writes the `length` data bytes of the record at `offset`, transformed,
  // into a fresh `writeFileName`. EXTRACT_IMAGE_TOO_SHORT when the image does
  // not hold all of them (nothing is written then).
  int extractSegment(const std::string& imageName, const std::string& writeFileName,
                     std::uint32_t offset, std::uint32_t length);

  // COMPARE_EQUAL when every byte of the write file, transformed, equals the
  // byte at the same place of the read-back file; a read-back file that ends
  // early counts as a difference.
  int compareSegmentFiles(const std::string& writeFileName, const std::string& readBackFileName);
};

}  // namespace voltrix

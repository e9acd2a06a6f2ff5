#pragma once
// Builds system image files from a list of records, for tests and the demo.
// Records are laid out in the order given, record 0 at offset 0 where every
// chain starts; the chain visits them in `chainOrder` (indices into the list,
// beginning with 0), so a chain may run backwards.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace voltrix {

struct ImageRecord {
  std::uint8_t skipFlag = 0;
  std::int32_t loadAddress = 0;
  std::vector<std::uint8_t> data;
  // When set, written as the record's length field instead of data.size().
  std::optional<std::int32_t> lengthOverride;
  // When set, written as the record's next-offset field instead of the chain's.
  std::optional<std::int32_t> nextOffsetOverride;
};

struct BuiltImage {
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint32_t> recordOffsets;  // where each record starts
};

// chainOrder empty: records are chained in list order. The last record of the
// chain points at the end of the file.
BuiltImage buildImage(const std::vector<ImageRecord>& records,
                      const std::vector<std::size_t>& chainOrder = {});
bool writeImageFile(const std::string& path, const BuiltImage& image);

// A sample image of several segments of mixed lengths (for the demo).
BuiltImage sampleImage();

}  // namespace voltrix

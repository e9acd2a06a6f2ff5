#pragma once
// The benchmarks' images: segments of pseudo-random bytes (the same bytes
// for the same seed), one after another from `firstAddress` in steps of
// `addressStep`, written as sysbin.bin of the working directory.

#include <cstdint>
#include <vector>

#include "engine/SystemTexts.h"
#include "sim/ImageBuilder.h"

namespace voltrix::bench {

inline bool writeBenchImage(const std::vector<std::uint32_t>& lengths, std::uint32_t seed,
                            std::int32_t firstAddress, std::int32_t addressStep) {
  std::vector<ImageRecord> records;
  std::int32_t address = firstAddress;
  for (std::uint32_t length : lengths) {
    ImageRecord record{0, address, {}, {}, {}};
    for (std::uint32_t i = 0; i < length; ++i) {
      seed = seed * 1664525u + 1013904223u;
      record.data.push_back(static_cast<std::uint8_t>(seed >> 24));
    }
    records.push_back(std::move(record));
    address += addressStep;
  }
  return writeImageFile(texts::kImageFileName, buildImage(records));
}

}  // namespace voltrix::bench

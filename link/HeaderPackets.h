#pragma once
// The headers that announce a block, in both directions of the protocol.
// Every header begins with its own length, then the count of bytes after
// that; numbers go most significant byte first and addresses keep only their
// low 24 bits.

#include <array>
#include <cstdint>

namespace voltrix {

struct HeaderPacket {
  std::array<std::uint8_t, 10> bytes{};
  std::uint32_t size = 0;
};
using WriteHeader = HeaderPacket;
using ReadHeader = HeaderPacket;

// How many bytes block `index` of a segment of `length` bytes carries: 64
// for every full block, the remainder for the last; 0 once the segment is
// done (a length that is a multiple of 64 has no short last block).
std::uint32_t blockRequest(std::uint32_t index, std::uint32_t length);

// The low 24 bits of the sum of the block's bytes taken as unsigned values.
std::uint32_t blockChecksum(const std::uint8_t* data, std::uint32_t count);

// Block 0 carries the start address and its count (10 bytes); a later full
// block only its checksum (5 bytes); a later short block its count too (7).
WriteHeader makeWriteHeader(std::uint32_t blockIndex, std::uint32_t address,
                            const std::uint8_t* data, std::uint32_t count);

// Block 0: 07 05 address count (7 bytes); a later full block: 02 00; a later
// short block: 04 02 count.
ReadHeader makeReadHeader(std::uint32_t blockIndex, std::uint32_t address, std::uint32_t count);

}  // namespace voltrix

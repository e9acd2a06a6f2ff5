#include "link/HeaderPackets.h"

#include "link/ProtocolConstants.h"

namespace voltrix {

namespace {

class HeaderBuilder {
 public:
  explicit HeaderBuilder(HeaderPacket& header) : header_(header) {}
  HeaderBuilder& byte(std::uint32_t value) {
    header_.bytes[header_.size++] = static_cast<std::uint8_t>(value);
    return *this;
  }
  HeaderBuilder& be16(std::uint32_t value) { return byte(value >> 8).byte(value); }
  HeaderBuilder& be24(std::uint32_t value) {
    return byte(value >> 16).byte(value >> 8).byte(value);
  }

 private:
  HeaderPacket& header_;
};

}  // namespace

std::uint32_t blockRequest(std::uint32_t index, std::uint32_t length) {
  const std::uint32_t fullBlocks = length / BLOCK_SIZE;
  if (index < fullBlocks) return BLOCK_SIZE;
  return index == fullBlocks ? length % BLOCK_SIZE : 0;
}

std::uint32_t blockChecksum(const std::uint8_t* data, std::uint32_t count) {
  std::uint32_t sum = 0;
  for (std::uint32_t i = 0; i < count; ++i) sum += data[i];
  return sum & 0xFFFFFF;
}

WriteHeader makeWriteHeader(std::uint32_t blockIndex, std::uint32_t address,
                            const std::uint8_t* data, std::uint32_t count) {
  WriteHeader header;
  HeaderBuilder build(header);
  const std::uint32_t checksum = blockChecksum(data, count);
  if (blockIndex == 0) {
    build.byte(0x0A).byte(0x08).be24(address).be16(count).be24(checksum);
  } else if (count == BLOCK_SIZE) {
    build.byte(0x05).byte(0x03).be24(checksum);
  } else {
    build.byte(0x07).byte(0x05).be16(count).be24(checksum);
  }
  return header;
}

ReadHeader makeReadHeader(std::uint32_t blockIndex, std::uint32_t address, std::uint32_t count) {
  ReadHeader header;
  HeaderBuilder build(header);
  if (blockIndex == 0) {
    build.byte(0x07).byte(0x05).be24(address).be16(count);
  } else if (count == BLOCK_SIZE) {
    build.byte(0x02).byte(0x00);
  } else {
    build.byte(0x04).byte(0x02).be16(count);
  }
  return header;
}

}  // namespace voltrix

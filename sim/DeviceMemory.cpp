#include "sim/DeviceMemory.h"

namespace voltrix::sim {

void DeviceMemory::store(std::uint32_t address, std::uint8_t value) {
  address &= kAddressMask;
  Page& page = pages_[address - address % kPageSize];
  const std::uint32_t at = address % kPageSize;
  if (!page.written.test(at)) ++writtenCount_;
  page.written.set(at);
  page.bytes[at] = value;
}

std::uint8_t DeviceMemory::load(std::uint32_t address, std::uint8_t unwritten) const {
  address &= kAddressMask;
  const auto page = pages_.find(address - address % kPageSize);
  if (page == pages_.end()) return unwritten;
  const std::uint32_t at = address % kPageSize;
  return page->second.written.test(at) ? page->second.bytes[at] : unwritten;
}

std::map<std::uint32_t, std::uint8_t> DeviceMemory::snapshot() const {
  std::map<std::uint32_t, std::uint8_t> bytes;
  for (const auto& [base, page] : pages_) {
    for (std::uint32_t at = 0; at < kPageSize; ++at) {
      if (page.written.test(at)) bytes.emplace_hint(bytes.end(), base + at, page.bytes[at]);
    }
  }
  return bytes;
}

}  // namespace voltrix::sim

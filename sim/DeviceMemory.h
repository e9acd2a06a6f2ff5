#pragma once
// The device's memory: a 24-bit address space in which only written bytes
// take room. Kept in pages so that a long download costs a few bytes per
// byte written, not a map node each.

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <map>

namespace voltrix::sim {

inline constexpr std::uint32_t kAddressMask = 0xFFFFFF;

class DeviceMemory {
 public:
  // Addresses wrap within 24 bits, as the device only ever receives 24.
  void store(std::uint32_t address, std::uint8_t value);
  // `unwritten` where nothing was ever stored.
  std::uint8_t load(std::uint32_t address, std::uint8_t unwritten) const;
  std::map<std::uint32_t, std::uint8_t> snapshot() const;
  std::size_t writtenCount() const { return writtenCount_; }

 private:
  static constexpr std::uint32_t kPageSize = 256;
  struct Page {
    std::array<std::uint8_t, kPageSize> bytes{};
    std::bitset<kPageSize> written;
  };
  std::map<std::uint32_t, Page> pages_;  // keyed by the page's first address
  std::size_t writtenCount_ = 0;
};

}  // namespace voltrix::sim

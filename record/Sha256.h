#pragma once
// SHA-256, for the image's fingerprint in the traceability log: a record
// names exactly which bytes went into a device.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace voltrix {

class Sha256 {
 public:
  using Digest = std::array<std::uint8_t, 32>;

  Sha256();
  void update(const void* data, std::size_t length);
  // The digest of everything given so far; the object starts afresh after.
  Digest finish();

  static std::string hex(const Digest& digest);  // lowercase

 private:
  void compressBlock(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_{};
  std::array<std::uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t totalBytes_ = 0;
};

// The lowercase hex SHA-256 of a file's bytes; empty when it cannot be read
// whole (missing, a directory, a read error).
std::string sha256OfFile(const std::string& path);

}  // namespace voltrix

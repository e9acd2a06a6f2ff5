#include "record/Sha256.h"

#include <fstream>
#include <vector>

#include "platform/Utf8Path.h"

namespace voltrix {

namespace {

constexpr std::array<std::uint32_t, 64> kRoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::array<std::uint32_t, 8> kInitialState = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

constexpr std::uint32_t rotateRight(std::uint32_t value, int bits) {
  return (value >> bits) | (value << (32 - bits));
}

}  // namespace

Sha256::Sha256() : state_(kInitialState) {}

void Sha256::compressBlock(const std::uint8_t* block) {
  std::array<std::uint32_t, 64> schedule{};
  for (int i = 0; i < 16; ++i) {
    schedule[i] = (std::uint32_t{block[4 * i]} << 24) | (std::uint32_t{block[4 * i + 1]} << 16) |
                  (std::uint32_t{block[4 * i + 2]} << 8) | std::uint32_t{block[4 * i + 3]};
  }
  for (int i = 16; i < 64; ++i) {
    const std::uint32_t s0 = rotateRight(schedule[i - 15], 7) ^ rotateRight(schedule[i - 15], 18) ^
                             (schedule[i - 15] >> 3);
    const std::uint32_t s1 = rotateRight(schedule[i - 2], 17) ^ rotateRight(schedule[i - 2], 19) ^
                             (schedule[i - 2] >> 10);
    schedule[i] = schedule[i - 16] + s0 + schedule[i - 7] + s1;
  }
  auto [a, b, c, d, e, f, g, h] = state_;
  for (int i = 0; i < 64; ++i) {
    const std::uint32_t sum1 = rotateRight(e, 6) ^ rotateRight(e, 11) ^ rotateRight(e, 25);
    const std::uint32_t choice = (e & f) ^ (~e & g);
    const std::uint32_t temp1 = h + sum1 + choice + kRoundConstants[i] + schedule[i];
    const std::uint32_t sum0 = rotateRight(a, 2) ^ rotateRight(a, 13) ^ rotateRight(a, 22);
    const std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
    const std::uint32_t temp2 = sum0 + majority;
    h = g;
    g = f;
    f = e;
    e = d + temp1;
    d = c;
    c = b;
    b = a;
    a = temp1 + temp2;
  }
  const std::array<std::uint32_t, 8> rounds = {a, b, c, d, e, f, g, h};
  for (int i = 0; i < 8; ++i) state_[i] += rounds[i];
}

void Sha256::update(const void* data, std::size_t length) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  totalBytes_ += length;
  while (length > 0) {
    if (buffered_ == 0 && length >= buffer_.size()) {
      compressBlock(bytes);
      bytes += buffer_.size();
      length -= buffer_.size();
      continue;
    }
    const std::size_t taken = std::min(length, buffer_.size() - buffered_);
    std::copy(bytes, bytes + taken, buffer_.begin() + static_cast<std::ptrdiff_t>(buffered_));
    buffered_ += taken;
    bytes += taken;
    length -= taken;
    if (buffered_ == buffer_.size()) {
      compressBlock(buffer_.data());
      buffered_ = 0;
    }
  }
}

Sha256::Digest Sha256::finish() {
  const std::uint64_t bitLength = totalBytes_ * 8;
  // The padding: one bit, zeros up to 56 bytes into a block, the length.
  std::array<std::uint8_t, 72> padding{};
  padding[0] = 0x80;
  const std::size_t zeros = (buffered_ < 56 ? 56 - buffered_ : 120 - buffered_) - 1;
  std::size_t length = 1 + zeros;
  for (int i = 7; i >= 0; --i) padding[length++] = static_cast<std::uint8_t>(bitLength >> (8 * i));
  update(padding.data(), length);

  Digest digest{};
  for (int i = 0; i < 8; ++i) {
    for (int byte = 0; byte < 4; ++byte) {
      digest[4 * i + byte] = static_cast<std::uint8_t>(state_[i] >> (24 - 8 * byte));
    }
  }
  *this = Sha256();
  return digest;
}

std::string Sha256::hex(const Digest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(digest.size() * 2);
  for (const std::uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0f];
  }
  return text;
}

std::string sha256OfFile(const std::string& path) {
  std::ifstream file(pathFromUtf8(path), std::ios::binary);
  if (!file) return {};
  Sha256 hash;
  std::vector<char> chunk(1 << 16);
  while (file.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || file.gcount() > 0) {
    hash.update(chunk.data(), static_cast<std::size_t>(file.gcount()));
    if (file.eof()) break;
  }
  // eof alone is the clean end; bad (a directory, an I/O error) is not.
  if (file.bad() || !file.eof()) return {};
  return Sha256::hex(hash.finish());
}

}  // namespace voltrix

#include "job/Sodium.h"

#include <sodium.h>

namespace voltrix {

bool sodiumReady() {
  // sodium_init() may be called again and from several threads; its answer
  // never changes once it succeeded.
  static const bool ready = sodium_init() >= 0;
  return ready;
}

std::string base64Of(std::span<const std::uint8_t> bytes) {
  constexpr int variant = sodium_base64_VARIANT_ORIGINAL;
  std::string text(sodium_base64_encoded_len(bytes.size(), variant), '\0');
  sodium_bin2base64(text.data(), text.size(), bytes.data(), bytes.size(), variant);
  text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
  return text;
}

std::optional<std::vector<std::uint8_t>> bytesOfBase64(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::vector<std::uint8_t> bytes(text.size() / 4 * 3 + 3);
  std::size_t length = 0;
  const char* end = nullptr;
  if (sodium_base642bin(bytes.data(), bytes.size(), text.data(), text.size(), nullptr, &length,
                        &end, sodium_base64_VARIANT_ORIGINAL) != 0 ||
      end != text.data() + text.size()) {
    return std::nullopt;
  }
  bytes.resize(length);
  return bytes;
}

}  // namespace voltrix

#pragma once
// libsodium made ready once per process, and base64 as the key files and
// signatures write it (the standard alphabet, with padding, no line breaks).

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace voltrix {

// False when libsodium cannot start (no source of randomness): nothing
// that signs or checks a signature can be trusted then.
bool sodiumReady();

std::string base64Of(std::span<const std::uint8_t> bytes);
// Empty for anything but whole, padded base64 (no spaces, nothing after).
std::optional<std::vector<std::uint8_t>> bytesOfBase64(std::string_view text);

}  // namespace voltrix

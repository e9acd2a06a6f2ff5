#include "job/JobSignature.h"

#include <sodium.h>

#include <algorithm>
#include <cctype>

#include "job/Sodium.h"
#include "record/Sha256.h"

namespace voltrix {

const char* jobCheckName(JobCheck check) {
  switch (check) {
    case JobCheck::Ok:
      return "ok";
    case JobCheck::SizeMismatch:
      return "size-mismatch";
    case JobCheck::HashMismatch:
      return "hash-mismatch";
    case JobCheck::BadSignature:
      return "bad-signature";
    case JobCheck::NoTrustedKey:
      return "no-trusted-key";
    case JobCheck::Malformed:
      return "malformed";
  }
  return "malformed";
}

std::string sha256Hex(std::span<const std::uint8_t> bytes) {
  Sha256 digest;
  digest.update(bytes.data(), bytes.size());
  return Sha256::hex(digest.finish());
}

bool isSha256Hex(std::string_view text) {
  return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
           return std::isxdigit(static_cast<unsigned char>(c)) != 0;
         });
}

bool isJobName(std::string_view name) {
  return !name.empty() && name.size() <= 255 && std::none_of(name.begin(), name.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
  });
}

std::string signImage(std::span<const std::uint8_t> image, const SecretKey& key) {
  if (!sodiumReady()) return {};
  std::array<std::uint8_t, crypto_sign_BYTES> signature{};
  crypto_sign_detached(signature.data(), nullptr, image.data(), image.size(), key.bytes().data());
  return base64Of(signature);
}

JobVerdict verifyJob(std::span<const std::uint8_t> bytes, std::uint64_t expectedSize,
                     std::string_view expectedSha256Hex, std::string_view signatureBase64,
                     const std::vector<PublicKey>& trustedKeys) {
  if (!isSha256Hex(expectedSha256Hex)) {
    return {JobCheck::Malformed, "the job's sha256 is not 64 hex digits"};
  }
  const auto signature = bytesOfBase64(signatureBase64);
  if (!signature || signature->size() != crypto_sign_BYTES) {
    return {JobCheck::Malformed, "the job's signature is not 64 bytes of base64"};
  }
  if (trustedKeys.empty()) return {JobCheck::NoTrustedKey, "no trusted key to check it with"};
  if (!sodiumReady()) return {JobCheck::NoTrustedKey, "libsodium cannot start: nothing checked"};
  if (bytes.size() != expectedSize) {
    return {JobCheck::SizeMismatch, "the image's size does not match (" +
                                        std::to_string(bytes.size()) + " bytes, the job says " +
                                        std::to_string(expectedSize) + ")"};
  }
  std::string expected(expectedSha256Hex);
  std::transform(expected.begin(), expected.end(), expected.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (sha256Hex(bytes) != expected) {
    return {JobCheck::HashMismatch, "the image's hash does not match"};
  }
  for (const PublicKey& key : trustedKeys) {
    if (crypto_sign_verify_detached(signature->data(), bytes.data(), bytes.size(),
                                    key.bytes.data()) == 0) {
      return {JobCheck::Ok, "the image checks out"};
    }
  }
  return {JobCheck::BadSignature, "the image's signature is that of no trusted key"};
}

}  // namespace voltrix

#pragma once
// Signing an image, and checking a job before any device gets it: its size,
// its sha256 and its Ed25519 signature (detached, 64 bytes, base64) by one
// of the keys the checker trusts.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "job/JobKeys.h"

namespace voltrix {

enum class JobCheck {
  Ok,
  SizeMismatch,  // the bytes are not as many as the job says
  HashMismatch,  // their sha256 is not the job's
  BadSignature,  // the signature is no trusted key's over these bytes
  NoTrustedKey,  // nothing to check the signature with: nothing is taken
  Malformed,     // the job's sha256 or signature cannot even be read
};

struct JobVerdict {
  JobCheck check = JobCheck::Ok;
  std::string text;  // for a person: what did not check out
  bool ok() const { return check == JobCheck::Ok; }
};

// A short stable name for logs and JSON ("hash-mismatch").
const char* jobCheckName(JobCheck check);

// The base64 signature of `image` with `key`; empty when libsodium cannot
// start.
std::string signImage(std::span<const std::uint8_t> image, const SecretKey& key);

JobVerdict verifyJob(std::span<const std::uint8_t> bytes, std::uint64_t expectedSize,
                     std::string_view expectedSha256Hex, std::string_view signatureBase64,
                     const std::vector<PublicKey>& trustedKeys);

// The lowercase hex sha256 of `bytes`.
std::string sha256Hex(std::span<const std::uint8_t> bytes);
// Whether `text` is 64 hex digits (either case).
bool isSha256Hex(std::string_view text);
// Whether `name` may name a job: it goes into the stations' lines and logs,
// so one line of printable text, 1 to 255 bytes.
bool isJobName(std::string_view name);

}  // namespace voltrix

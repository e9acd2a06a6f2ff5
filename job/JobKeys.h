#pragma once
// The Ed25519 keys that sign and check jobs, and their files: one line
// `voltrix-ed25519-public <base64 of 32 bytes>` for a public key,
// `voltrix-ed25519-secret <base64 of 64 bytes>` for a secret one (mode
// 0600), each with any number of `#` comment lines and blank lines around.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace voltrix {

inline constexpr std::string_view kPublicKeyHeader = "voltrix-ed25519-public";
inline constexpr std::string_view kSecretKeyHeader = "voltrix-ed25519-secret";

struct PublicKey {
  std::array<std::uint8_t, 32> bytes{};
  std::string file;  // where it was read; empty for one made here
};

// Wiped when it goes, so that no copy of the secret lingers in memory.
class SecretKey {
 public:
  SecretKey() = default;
  ~SecretKey();
  SecretKey(const SecretKey& other) = default;
  SecretKey& operator=(const SecretKey& other) = default;

  std::array<std::uint8_t, 64>& bytes() { return bytes_; }
  const std::array<std::uint8_t, 64>& bytes() const { return bytes_; }
  PublicKey publicKey() const;

 private:
  std::array<std::uint8_t, 64> bytes_{};
};

enum class KeyFileFailure {
  None,
  Unreadable,   // missing, not a regular file, too large, a read error
  WrongHeader,  // no key line, the other kind of key, or something else
  BadBase64,
  WrongLength,  // base64, but not a key's number of bytes
  Damaged,      // a secret key whose public half does not belong to it
  Unwritable,   // a file already there, or the disk refused it
};

struct KeyFileError {
  KeyFileFailure kind = KeyFileFailure::None;
  std::string text;  // names the file and what is wrong with it
};

std::optional<PublicKey> readPublicKey(const std::string& path, KeyFileError& error);
std::optional<SecretKey> readSecretKey(const std::string& path, KeyFileError& error);

// The files' text, a comment line first.
std::string publicKeyText(const PublicKey& key);
std::string secretKeyText(const SecretKey& key);

struct KeyPairFiles {
  std::string publicFile, secretFile;  // BASENAME.pub, BASENAME.key
};
// Makes a new key pair and writes it beside `basename`; files already there
// are never replaced. False with `error` (and nothing left behind) when not.
std::optional<KeyPairFiles> writeNewKeyPair(const std::string& basename, KeyFileError& error);

}  // namespace voltrix

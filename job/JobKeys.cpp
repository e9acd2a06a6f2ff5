#include "job/JobKeys.h"

#include <sodium.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "platform/DurableFile.h"
#include "job/Sodium.h"

namespace voltrix {

namespace {

// A key file is one short line and a few comments.
constexpr std::uint64_t kKeyFileLimit = 64 * 1024;

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The bytes of the key line of `path`, which must begin with `header` and
// carry `length` bytes of base64.
std::optional<std::vector<std::uint8_t>> keyBytes(const std::string& path, std::string_view header,
                                                  std::size_t length, KeyFileError& error) {
  const auto fail = [&](KeyFileFailure kind, const std::string& why) {
    error = {kind, path + ": " + why};
    return std::nullopt;
  };
  std::string readError;
  const auto file = readFileWhole(path, kKeyFileLimit, readError);
  if (!file) {
    // readError names the file too: only its reason is kept.
    return fail(KeyFileFailure::Unreadable,
                "cannot read it: " + readError.substr(readError.rfind(": ") + 2));
  }
  const std::string text(file->begin(), file->end());
  std::optional<std::string_view> keyLine;
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string_view line = trimmed(std::string_view(text).substr(at, end - at));
    at = end + 1;
    if (line.empty() || line.front() == '#') continue;
    if (keyLine) return fail(KeyFileFailure::WrongHeader, "more than one key line");
    keyLine = line;
  }
  if (!keyLine) return fail(KeyFileFailure::WrongHeader, "no key line in it");
  const std::string_view word = keyLine->substr(0, keyLine->find_first_of(" \t"));
  if (word != header) {
    const std::string found =
        word == kPublicKeyHeader || word == kSecretKeyHeader
            ? "it holds a " + std::string(word.substr(word.rfind('-') + 1)) + " key"
            : "it does not begin with \"" + std::string(header) + "\"";
    return fail(KeyFileFailure::WrongHeader, "not a voltrix " +
                                                 std::string(header.substr(header.rfind('-') + 1)) +
                                                 " key file (" + found + ")");
  }
  const std::string_view encoded = trimmed(keyLine->substr(word.size()));
  auto bytes = bytesOfBase64(encoded);
  if (!bytes) return fail(KeyFileFailure::BadBase64, "the key is not valid base64");
  if (bytes->size() != length) {
    return fail(KeyFileFailure::WrongLength, "the key has " + std::to_string(bytes->size()) +
                                                 " bytes where " + std::to_string(length) +
                                                 " are expected");
  }
  return bytes;
}

}  // namespace

SecretKey::~SecretKey() {
  sodium_memzero(bytes_.data(), bytes_.size());
}

PublicKey SecretKey::publicKey() const {
  PublicKey key;
  crypto_sign_ed25519_sk_to_pk(key.bytes.data(), bytes_.data());
  return key;
}

std::optional<PublicKey> readPublicKey(const std::string& path, KeyFileError& error) {
  auto bytes = keyBytes(path, kPublicKeyHeader, crypto_sign_PUBLICKEYBYTES, error);
  if (!bytes) return std::nullopt;
  PublicKey key;
  std::copy(bytes->begin(), bytes->end(), key.bytes.begin());
  key.file = path;
  return key;
}

std::optional<SecretKey> readSecretKey(const std::string& path, KeyFileError& error) {
  if (!sodiumReady()) {
    error = {KeyFileFailure::Unreadable, path + ": libsodium cannot start"};
    return std::nullopt;
  }
  auto bytes = keyBytes(path, kSecretKeyHeader, crypto_sign_SECRETKEYBYTES, error);
  if (!bytes) return std::nullopt;
  SecretKey key;
  std::copy(bytes->begin(), bytes->end(), key.bytes().begin());
  sodium_memzero(bytes->data(), bytes->size());
  // The secret key is its seed and its public key: a file whose halves do
  // not belong together would sign what no one can check.
  std::array<std::uint8_t, crypto_sign_PUBLICKEYBYTES> derived{};
  SecretKey again;
  crypto_sign_seed_keypair(derived.data(), again.bytes().data(), key.bytes().data());
  if (sodium_memcmp(derived.data(), key.bytes().data() + crypto_sign_SEEDBYTES, derived.size()) !=
      0) {
    error = {KeyFileFailure::Damaged, path + ": the key's public half does not match its seed"};
    return std::nullopt;
  }
  return key;
}

std::string publicKeyText(const PublicKey& key) {
  return "# voltrix job signing key (public): give it to the line and the stations\n" +
         std::string(kPublicKeyHeader) + " " + base64Of(key.bytes) + "\n";
}

std::string secretKeyText(const SecretKey& key) {
  return "# voltrix job signing key (secret): keep it to yourself\n" +
         std::string(kSecretKeyHeader) + " " + base64Of(key.bytes()) + "\n";
}

std::optional<KeyPairFiles> writeNewKeyPair(const std::string& basename, KeyFileError& error) {
  KeyPairFiles files{basename + ".pub", basename + ".key"};
  if (!sodiumReady()) {
    error = {KeyFileFailure::Unwritable, "libsodium cannot start: no key made"};
    return std::nullopt;
  }
  SecretKey secret;
  PublicKey pub;
  crypto_sign_keypair(pub.bytes.data(), secret.bytes().data());
  std::string secretText = secretKeyText(secret);
  const std::string publicText = publicKeyText(pub);
  const auto bytesOf = [](const std::string& text) {
    return std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  };
  std::string why;
  bool written = writeFileDurably(files.secretFile, bytesOf(secretText), 0600, Replace::Never, why);
  sodium_memzero(secretText.data(), secretText.size());
  if (written &&
      !writeFileDurably(files.publicFile, bytesOf(publicText), 0644, Replace::Never, why)) {
    // Half a pair is no use: the secret just written goes again.
    std::error_code ignored;
    std::filesystem::remove(files.secretFile, ignored);
    written = false;
  }
  if (!written) {
    error = {KeyFileFailure::Unwritable, why};
    return std::nullopt;
  }
  return files;
}

}  // namespace voltrix

#include "job/JobCommands.h"

#include "control/ExitCodes.h"
#include "platform/DurableFile.h"
#include "job/JobKeys.h"
#include "job/JobSignature.h"

namespace voltrix {

namespace {

// The line takes images of at most 64 MiB: a larger one is signed in vain.
constexpr std::uint64_t kImageLimit = 64ull * 1024 * 1024;

}  // namespace

int runKeygen(const std::string& basename, std::FILE* out, std::FILE* err) {
  if (basename.empty()) {
    std::fprintf(err, "voltrix-line: --keygen needs a BASENAME for BASENAME.pub and .key\n");
    return kExitUsage;
  }
  KeyFileError error;
  const auto files = writeNewKeyPair(basename, error);
  if (!files) {
    std::fprintf(err, "voltrix-line: no key pair made: %s\n", error.text.c_str());
    return kExitFileError;
  }
  std::fprintf(out,
               "public key: %s (give it to the line and the stations with --trust-key)\n"
               "secret key: %s (mode 0600: sign with it, keep it to yourself)\n",
               files->publicFile.c_str(), files->secretFile.c_str());
  return kExitOk;
}

int runSign(const std::string& keyFile, const std::string& imagePath, std::FILE* out,
            std::FILE* err) {
  KeyFileError keyError;
  const auto key = readSecretKey(keyFile, keyError);
  if (!key) {
    std::fprintf(err, "voltrix-line: cannot sign with %s\n", keyError.text.c_str());
    return keyError.kind == KeyFileFailure::Unreadable ? kExitFileError : kExitUsage;
  }
  std::string error;
  const auto image = readFileWhole(imagePath, kImageLimit, error);
  if (!image) {
    std::fprintf(err, "voltrix-line: %s\n", error.c_str());
    return kExitImageMissing;
  }
  const std::string signature = signImage(*image, *key);
  if (signature.empty()) {
    std::fprintf(err, "voltrix-line: libsodium cannot start: nothing signed\n");
    return kExitInternal;
  }
  const std::string line = signature + "\n";
  const std::span bytes(reinterpret_cast<const std::uint8_t*>(line.data()), line.size());
  if (!writeFileDurably(imagePath + ".sig", bytes, 0644, Replace::Allowed, error)) {
    std::fprintf(err, "voltrix-line: %s\n", error.c_str());
    std::fputs(line.c_str(), out);
    return kExitFileError;
  }
  std::fputs(line.c_str(), out);
  return kExitOk;
}

}  // namespace voltrix

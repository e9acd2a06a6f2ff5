// Key files as they are written and read: a pair made by --keygen signs
// what its public half checks, the secret is this user's alone, nothing is
// overwritten, and every kind of bad file is refused by name.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "control/ExitCodes.h"
#include "job/JobCommands.h"
#include "job/JobKeys.h"
#include "job/JobSignature.h"
#include "job/StationJobs.h"
#include "tests/support/TempDir.h"

namespace voltrix {
namespace {

using test::TempDir;

// What a command wrote to a stream, read back.
class Capture {
 public:
  Capture() : file_(std::tmpfile(), &std::fclose) {}
  std::FILE* get() { return file_.get(); }
  std::string text() {
    std::fflush(file_.get());
    std::rewind(file_.get());
    std::string text;
    for (int c; (c = std::fgetc(file_.get())) != EOF;) text.push_back(static_cast<char>(c));
    return text;
  }

 private:
  std::unique_ptr<std::FILE, decltype(&std::fclose)> file_;
};

TEST(JobKeyFiles, AKeyPairFromKeygenSignsWhatItsPublicHalfChecksAndIsNeverOverwritten) {
  TempDir dir;
  Capture out, err;
  ASSERT_EQ(runKeygen(dir.file("line"), out.get(), err.get()), kExitOk) << err.text();
  EXPECT_NE(out.text().find(dir.file("line.pub")), std::string::npos);
  struct stat secret {};
  ASSERT_EQ(::stat(dir.file("line.key").c_str(), &secret), 0);
  EXPECT_EQ(secret.st_mode & 0777, 0600u);

  const std::string image = "an image of a few bytes";
  test::writeFileBytes(dir.file("sysbin.bin"), image);
  Capture signedOut, signErr;
  ASSERT_EQ(runSign(dir.file("line.key"), dir.file("sysbin.bin"), signedOut.get(), signErr.get()),
            kExitOk)
      << signErr.text();
  const std::string signature = signedOut.text();
  EXPECT_EQ(test::readFileBytes(dir.file("sysbin.bin.sig")), signature);
  KeyFileError error;
  const auto key = readPublicKey(dir.file("line.pub"), error);
  ASSERT_TRUE(key) << error.text;
  const std::span bytes(reinterpret_cast<const std::uint8_t*>(image.data()), image.size());
  const std::string base64 = signature.substr(0, signature.find('\n'));
  EXPECT_TRUE(verifyJob(bytes, bytes.size(), sha256Hex(bytes), base64, {*key}).ok());

  // A station's --trust-key files: one that is wrong is named.
  std::string trustError;
  EXPECT_EQ(readTrustedKeys({dir.file("line.pub")}, trustError)->size(), 1u);
  EXPECT_FALSE(readTrustedKeys({dir.file("line.pub"), dir.file("line.key")}, trustError));
  EXPECT_EQ(trustError.rfind("--trust-key " + dir.file("line.key") + ": not a voltrix public", 0),
            0u)
      << trustError;

  const std::string before = test::readFileBytes(dir.file("line.key"));
  Capture again, againErr;
  EXPECT_EQ(runKeygen(dir.file("line"), again.get(), againErr.get()), kExitFileError);
  EXPECT_NE(againErr.text().find("already there"), std::string::npos) << againErr.text();
  EXPECT_EQ(test::readFileBytes(dir.file("line.key")), before);
}

TEST(JobKeyFiles, BadFilesAreRefusedWithTheirKind) {
  TempDir dir;
  Capture out, err;
  ASSERT_EQ(runKeygen(dir.file("k"), out.get(), err.get()), kExitOk);
  const std::string pub = test::readFileBytes(dir.file("k.pub"));
  const std::string key = test::readFileBytes(dir.file("k.key"));
  const std::string pubLine = pub.substr(pub.find("voltrix-ed25519-public"));
  const std::string keyLine = key.substr(key.find("voltrix-ed25519-secret"));
  // The secret with one byte of its public half changed, base64 kept valid.
  std::string damaged = keyLine;
  damaged[damaged.size() - 5] = damaged[damaged.size() - 5] == 'A' ? 'B' : 'A';
  struct Case {
    const char* name;
    bool secret;
    const char* text;  // the file's content; null for no file at all
    KeyFileFailure kind;
    const char* says;
  };
  const std::string comments = "# a comment\n\n" + pubLine + "# another\n";
  const std::string twice = pubLine + pubLine;
  const Case cases[] = {
      {"comments and blank lines around", false, comments.c_str(), KeyFileFailure::None, ""},
      {"no file", false, nullptr, KeyFileFailure::Unreadable, "cannot read"},
      {"a secret key given as public", false, keyLine.c_str(), KeyFileFailure::WrongHeader,
       "holds a secret key"},
      {"a public key given as secret", true, pubLine.c_str(), KeyFileFailure::WrongHeader,
       "holds a public key"},
      {"another header", false, "ssh-ed25519 AAAA\n", KeyFileFailure::WrongHeader,
       "does not begin with"},
      {"only comments", false, "# nothing\n", KeyFileFailure::WrongHeader, "no key line"},
      {"two key lines", false, twice.c_str(), KeyFileFailure::WrongHeader, "more than one"},
      {"bad base64", false, "voltrix-ed25519-public AA*A\n", KeyFileFailure::BadBase64,
       "not valid base64"},
      {"no key after the header", false, "voltrix-ed25519-public\n", KeyFileFailure::BadBase64,
       "not valid base64"},
      {"16 bytes", false, "voltrix-ed25519-public AAAAAAAAAAAAAAAAAAAAAA==\n",
       KeyFileFailure::WrongLength, "16 bytes where 32"},
      {"a damaged secret", true, damaged.c_str(), KeyFileFailure::Damaged, "does not match"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file(std::string("case-") + (c.secret ? "s" : "p"));
    std::remove(path.c_str());
    if (c.text != nullptr) test::writeFileBytes(path, c.text);
    KeyFileError error;
    const bool read =
        c.secret ? readSecretKey(path, error).has_value() : readPublicKey(path, error).has_value();
    EXPECT_EQ(read, c.kind == KeyFileFailure::None);
    EXPECT_EQ(error.kind, c.kind) << error.text;
    EXPECT_NE(error.text.find(c.says), std::string::npos) << error.text;
    if (c.kind != KeyFileFailure::None) {
      EXPECT_EQ(error.text.rfind(path, 0), 0u) << error.text;
    }
  }
}

TEST(JobKeyFiles, SigningWithABadKeyOrAMissingImageSignsNothing) {
  TempDir dir;
  test::writeFileBytes(dir.file("sysbin.bin"), "bytes");
  test::writeFileBytes(dir.file("not-a-key"), "hello\n");
  Capture out, err, out2, err2;
  EXPECT_EQ(runSign(dir.file("not-a-key"), dir.file("sysbin.bin"), out.get(), err.get()),
            kExitUsage);
  EXPECT_EQ(out.text(), "");
  EXPECT_FALSE(test::fileExists(dir.file("sysbin.bin.sig")));
  Capture keyOut, keyErr;
  ASSERT_EQ(runKeygen(dir.file("k"), keyOut.get(), keyErr.get()), kExitOk);
  EXPECT_EQ(runSign(dir.file("k.key"), dir.file("missing.bin"), out2.get(), err2.get()),
            kExitImageMissing);
  EXPECT_NE(err2.text().find("missing.bin"), std::string::npos) << err2.text();
}

}  // namespace
}  // namespace voltrix

// A job is taken only when its size, its sha256 and its signature by a
// trusted key all check out; each way of failing is refused by kind, and
// the station's store keeps the last good image whatever comes after it.

#include <gtest/gtest.h>

#include <vector>

#include "job/JobImageStore.h"
#include "job/JobMetaJson.h"
#include "job/JobSignature.h"
#include "job/Sodium.h"
#include "tests/support/TempDir.h"

namespace voltrix {
namespace {

using test::TempDir;

struct Signer {
  Signer() {
    TempDir dir;
    KeyFileError error;
    const auto files = writeNewKeyPair(dir.file("k"), error);
    EXPECT_TRUE(files) << error.text;
    secret = *readSecretKey(files->secretFile, error);
    publicKey = *readPublicKey(files->publicFile, error);
  }
  SecretKey secret;
  PublicKey publicKey;
};

std::vector<std::uint8_t> someImage(std::uint8_t seed) {
  std::vector<std::uint8_t> bytes(300);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
  return bytes;
}

JobMeta metaOf(const std::vector<std::uint8_t>& image, const SecretKey& key, std::int64_t id) {
  return {id, "sysbin.bin", sha256Hex(image), image.size(), signImage(image, key), std::nullopt};
}

TEST(JobCheck, EachWayAJobCanBeWrongIsRefusedByKind) {
  const Signer line, stranger;
  const std::vector<std::uint8_t> image = someImage(1);
  const JobMeta good = metaOf(image, line.secret, 1);
  std::vector<std::uint8_t> flipped = image;
  flipped[100] ^= 0x01;
  const std::vector<std::uint8_t> truncated(image.begin(), image.end() - 1);
  const std::string foreign = signImage(image, stranger.secret);
  // A signature of the right length over other bytes.
  const std::string otherBytes = signImage(someImage(2), line.secret);
  const std::vector<PublicKey> trusted{stranger.publicKey, line.publicKey};
  struct Case {
    const char* name;
    const std::vector<std::uint8_t>& bytes;
    std::uint64_t size;
    std::string sha256, signature;
    std::vector<PublicKey> keys;
    JobCheck check;
    const char* says;
  };
  const Case cases[] = {
      {"as signed, the second key trusted", image, good.size, good.sha256, good.signature, trusted,
       JobCheck::Ok, "checks out"},
      {"uppercase hex", image, good.size, "", good.signature, trusted, JobCheck::Ok, ""},
      {"a flipped byte", flipped, good.size, good.sha256, good.signature, trusted,
       JobCheck::HashMismatch, "the image's hash does not match"},
      {"a flipped byte, its hash given", flipped, good.size, sha256Hex(flipped), good.signature,
       trusted, JobCheck::BadSignature, "no trusted key"},
      {"a truncated image", truncated, good.size, good.sha256, good.signature, trusted,
       JobCheck::SizeMismatch, "299 bytes, the job says 300"},
      {"a wrong size", image, good.size + 1, good.sha256, good.signature, trusted,
       JobCheck::SizeMismatch, "size does not match"},
      {"a key not trusted",
       image,
       good.size,
       good.sha256,
       foreign,
       {line.publicKey},
       JobCheck::BadSignature,
       "no trusted key"},
      {"a signature of other bytes", image, good.size, good.sha256, otherBytes, trusted,
       JobCheck::BadSignature, ""},
      {"bad base64", image, good.size, good.sha256, "not*base64", trusted, JobCheck::Malformed,
       "signature"},
      {"base64 of 63 bytes", image, good.size, good.sha256, base64Of(std::vector<std::uint8_t>(63)),
       trusted, JobCheck::Malformed, "64 bytes"},
      {"no signature", image, good.size, good.sha256, "", trusted, JobCheck::Malformed, ""},
      {"a sha256 that is no hash", image, good.size, "abc", good.signature, trusted,
       JobCheck::Malformed, "64 hex digits"},
      {"no trusted key",
       image,
       good.size,
       good.sha256,
       good.signature,
       {},
       JobCheck::NoTrustedKey,
       "no trusted key to check"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string sha256 = c.sha256;
    if (sha256.empty()) {
      sha256 = good.sha256;
      for (char& digit : sha256) digit = static_cast<char>(std::toupper(digit));
    }
    const JobVerdict verdict = verifyJob(c.bytes, c.size, sha256, c.signature, c.keys);
    EXPECT_EQ(verdict.check, c.check) << jobCheckName(verdict.check) << ": " << verdict.text;
    EXPECT_NE(verdict.text.find(c.says), std::string::npos) << verdict.text;
  }
}

TEST(JobImageStore, TheLastGoodJobIsRestoredCheckedAgainAndEarlierImagesGo) {
  const Signer line, stranger;
  TempDir dir;
  JobImageStore store(dir.file("jobs"));
  EXPECT_FALSE(store.restore({line.publicKey}).meta);
  EXPECT_EQ(store.restore({line.publicKey}).problem, "");

  const std::vector<std::uint8_t> first = someImage(1), second = someImage(2);
  const JobMeta one = metaOf(first, line.secret, 1), two = metaOf(second, line.secret, 2);
  std::string error;
  ASSERT_TRUE(store.writeImage(first, one, error)) << error;
  ASSERT_TRUE(store.remember(one, error)) << error;
  // A second image written but not taken leaves the first the good one.
  ASSERT_TRUE(store.writeImage(second, two, error)) << error;
  store.forget(two);
  EXPECT_FALSE(test::fileExists(store.imagePath(two.sha256)));
  store.forget(one);  // the last good one is never forgotten
  JobImageStore::Restored restored = store.restore({line.publicKey});
  ASSERT_TRUE(restored.meta) << restored.problem;
  EXPECT_EQ(restored.meta->id, 1);
  EXPECT_EQ(restored.bytes, first);

  ASSERT_TRUE(store.writeImage(second, two, error)) << error;
  ASSERT_TRUE(store.remember(two, error)) << error;
  EXPECT_FALSE(test::fileExists(store.imagePath(one.sha256)));
  restored = store.restore({line.publicKey});
  ASSERT_TRUE(restored.meta);
  EXPECT_EQ(restored.meta->id, 2);
  EXPECT_EQ(restored.imagePath, store.imagePath(two.sha256));

  // Checked again at the start: a key no longer trusted, or bytes changed
  // on the disk, and nothing is restored, with the reason.
  restored = store.restore({stranger.publicKey});
  EXPECT_FALSE(restored.meta);
  EXPECT_NE(restored.problem.find("no trusted key"), std::string::npos) << restored.problem;
  std::string changed = test::readFileBytes(store.imagePath(two.sha256));
  changed[5] ^= 0x40;
  test::writeFileBytes(store.imagePath(two.sha256), changed);
  restored = store.restore({line.publicKey});
  EXPECT_FALSE(restored.meta);
  EXPECT_NE(restored.problem.find("hash does not match"), std::string::npos) << restored.problem;
  test::writeFileBytes(dir.file("jobs/last-good-job.json"), "{\"id\":\"x\"}");
  EXPECT_NE(store.restore({line.publicKey}).problem.find("not a note"), std::string::npos);
}

TEST(JobMetaJson, OnlyAWholeJobIsRead) {
  const std::string hash(64, 'A');
  const std::string good =
      R"({"id":3,"name":"sysbin.bin","sha256":")" + hash +
      R"(","size":10,"signature":"c2ln","quota":null,"verified":0,"remaining":-2})";
  std::string error;
  const auto meta = jobMetaOfJson(good, error);
  ASSERT_TRUE(meta) << error;
  EXPECT_EQ(meta->sha256, std::string(64, 'a'));
  EXPECT_EQ(meta->remaining, std::optional<std::int64_t>(0));
  const struct {
    std::string body;
    const char* says;
  } bad[] = {
      {"[]", "not a JSON object"},
      {"{\"id\":3", "not a JSON object"},
      {R"({"name":"a","sha256":")" + hash + R"(","size":1,"signature":"x"})", "no id"},
      {R"({"id":1,"name":"a\nb","sha256":")" + hash + R"(","size":1,"signature":"x"})",
       "not one line"},
      {R"({"id":1,"name":"a","sha256":"abc","size":1,"signature":"x"})", "64 hex digits"},
      {R"({"id":1,"name":"a","sha256":")" + hash + R"(","size":-1,"signature":"x"})", "no size"},
      {R"({"id":1,"name":"a","sha256":")" + hash + R"(","size":1})", "no signature"},
      {R"({"id":1,"name":"a","sha256":")" + hash + R"(","size":1,"signature":"x","remaining":"9"})",
       "remaining"},
  };
  for (const auto& c : bad) {
    SCOPED_TRACE(c.body);
    EXPECT_FALSE(jobMetaOfJson(c.body, error));
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
  }
}

TEST(JobImageStore, BytesThatAreNotWhatTheirHashNamesAreNotWritten) {
  const Signer line;
  TempDir dir;
  JobImageStore store(dir.file("jobs"));
  JobMeta meta = metaOf(someImage(1), line.secret, 1);
  std::string error;
  EXPECT_FALSE(store.writeImage(someImage(2), meta, error));
  meta.sha256 = "../../etc/passwd";
  EXPECT_FALSE(store.writeImage(someImage(1), meta, error));
  EXPECT_FALSE(test::fileExists(dir.file("jobs")));
}

}  // namespace
}  // namespace voltrix

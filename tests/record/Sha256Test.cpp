#include <gtest/gtest.h>

#include <string>

#include "record/Sha256.h"
#include "tests/support/TempDir.h"

namespace voltrix::cli {
namespace {

std::string hashOf(const std::string& text) {
  Sha256 hash;
  hash.update(text.data(), text.size());
  return Sha256::hex(hash.finish());
}

// The examples of FIPS 180-4 (and its companion test vectors): one block,
// padding that spills into a second block, many blocks.
TEST(Sha256, StandardVectors) {
  EXPECT_EQ(hashOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(hashOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(hashOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(
      hashOf("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmn"
             "opqrlmnopqrsmnopqrstnopqrstu"),
      "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
  EXPECT_EQ(hashOf(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, PiecesOfAnySizeGiveTheSameDigest) {
  const std::string text(1000, 'x');
  Sha256 hash;
  for (std::size_t at = 0, piece = 1; at < text.size(); at += piece, piece = piece * 3 % 97 + 1) {
    hash.update(text.data() + at, std::min(piece, text.size() - at));
  }
  EXPECT_EQ(Sha256::hex(hash.finish()), hashOf(text));
  // finish() leaves the object ready for the next message.
  hash.update("abc", 3);
  EXPECT_EQ(Sha256::hex(hash.finish()),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Sha256, FileHashAcrossReadChunksAndUnreadableFiles) {
  const test::TempDir dir;
  test::writeFileBytes(dir.file("million"), std::string(1000000, 'a'));
  EXPECT_EQ(sha256OfFile(dir.file("million")),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  test::writeFileBytes(dir.file("empty"), "");
  EXPECT_EQ(sha256OfFile(dir.file("empty")),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(sha256OfFile(dir.file("missing")), "");
  EXPECT_EQ(sha256OfFile(dir.path()), "");  // a directory is no image
}

}  // namespace
}  // namespace voltrix::cli

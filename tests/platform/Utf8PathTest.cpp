// Names in any script reach the file system as the same names: a file made
// under a UTF-8 name is found under that name by the standard library, and
// the other way round, whatever the machine's ANSI code page.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/FileIo.h"
#include "platform/Utf8Path.h"
#include "tests/support/TempDir.h"

namespace voltrix {
namespace {

namespace fs = std::filesystem;

struct Name {
  const char* what;
  std::u8string text;
};

// Chinese is what operators write; é is in code page 1252 but not in 936,
// the emoji lies outside the Basic Multilingual Plane (a surrogate pair).
const std::vector<Name> kNames = {
    {"chinese", u8"固件"},
    {"latin", u8"Résumé"},
    {"mixed", u8"日志 log-1"},
    {"astral", u8"\U0001F50Cplug"},
};

std::string utf8(const std::u8string& text) {
  return std::string(text.begin(), text.end());
}

TEST(Utf8Path, NamesCrossBothWaysUnchanged) {
  for (const Name& name : kNames) {
    SCOPED_TRACE(name.what);
    // The library's own reading of UTF-8 is the reference.
    const fs::path reference(name.text);
    EXPECT_EQ(pathFromUtf8(utf8(name.text)), reference);
    EXPECT_EQ(utf8FromPath(reference), utf8(name.text));
    const fs::path inside = pathFromUtf8(utf8(name.text) + "/sysbin.bin");
    EXPECT_EQ(utf8FromPath(inside.parent_path()), utf8(name.text));
    EXPECT_EQ(utf8FromPath(inside.filename()), "sysbin.bin");
  }
}

TEST(Utf8Path, TheFileLayerMakesReadsAndRemovesUnderEveryName) {
  test::TempDir dir;
  for (const Name& name : kNames) {
    SCOPED_TRACE(name.what);
    const std::string prefix = dir.file(utf8(name.text));
    const auto folder = createPrivateFolder(prefix + "-");
    ASSERT_TRUE(folder);
    const std::string suffix = folder->substr(prefix.size());
    ASSERT_TRUE(fs::is_directory(
        fs::path(dir.path()) / fs::path(name.text + std::u8string(suffix.begin(), suffix.end()))));
    const std::string file = *folder + "/" + utf8(name.text) + ".bin";
    {
      File written = createFreshFile(file);
      ASSERT_TRUE(written);
      const std::uint8_t bytes[] = {'Z', 0, 0xff};
      ASSERT_TRUE(written.writeFully(bytes, sizeof bytes));
    }
    EXPECT_EQ(fs::file_size(pathFromUtf8(file)), 3u);
    File read = openForReading(file);
    ASSERT_TRUE(read);
    EXPECT_EQ(read.size(), 3u);
    read.close();
    EXPECT_TRUE(removeFile(file));
    EXPECT_FALSE(fs::exists(pathFromUtf8(file)));
    EXPECT_TRUE(removeFolder(*folder));
    EXPECT_FALSE(fs::exists(pathFromUtf8(*folder)));
  }
}

TEST(Utf8Path, BytesThatAreNoUtf8NeitherThrowNorVanish) {
  const std::string broken = "bad-\xff\xfe-name";
  const fs::path path = pathFromUtf8(broken);
  EXPECT_FALSE(path.empty());
  EXPECT_EQ(utf8FromPath(path).rfind("bad-", 0), 0u);
}

}  // namespace
}  // namespace voltrix

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include "platform/FileIo.h"
#include "platform/Utf8Path.h"

namespace voltrix::test {

TempDir::TempDir() {
  // The engine's own private folder, made in the system's temporary folder.
  std::error_code error;
  const std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
  const std::optional<std::string> made =
      error ? std::nullopt
            : createPrivateFolder(
                  utf8FromPath(std::filesystem::absolute(temporary) / "voltrix-test-"));
  if (!made) {
    ADD_FAILURE() << "no temporary folder could be made";
    return;
  }
  path_ = *made;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (path_.empty()) return;
  // Permissions a test took away must not stop the clean-up.
  for (auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
    std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
  }
  std::filesystem::remove_all(path_, ignored);
}

std::string readFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool fileExists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

void writeFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace voltrix::test

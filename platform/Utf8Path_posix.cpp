// Linux names are bytes: they pass unchanged, valid UTF-8 or not, so that
// a file named in another encoding still opens.

#include "platform/Utf8Path.h"

namespace voltrix {

std::filesystem::path pathFromUtf8(std::string_view name) {
  return std::filesystem::path(std::string(name));
}

std::string utf8FromPath(const std::filesystem::path& path) {
  return path.native();
}

}  // namespace voltrix

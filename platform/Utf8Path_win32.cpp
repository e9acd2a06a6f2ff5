// Windows names are UTF-16. The conversion is our own rather than the
// library's: that one throws on text that is not UTF-8, ours replaces it.

#include "platform/Utf8Path.h"
#include "platform/WideText_win32.h"

namespace voltrix {

std::filesystem::path pathFromUtf8(std::string_view name) {
  return std::filesystem::path(widen(name));
}

std::string utf8FromPath(const std::filesystem::path& path) {
  return narrow(path.native());
}

}  // namespace voltrix

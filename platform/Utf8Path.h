#pragma once
// Names inside Voltrix are UTF-8 strings; std::filesystem::path holds the
// system's own form (bytes on Linux, UTF-16 on Windows). Every path made from
// a name, and every name taken from a path, goes through here, so that a
// folder called 固件 is the same folder whatever the machine's ANSI code page.
// Neither direction fails: text that cannot be converted is replaced.

#include <filesystem>
#include <string>
#include <string_view>

namespace voltrix {

std::filesystem::path pathFromUtf8(std::string_view name);

std::string utf8FromPath(const std::filesystem::path& path);

}  // namespace voltrix

#pragma once
// Text inside Voltrix is UTF-8; Windows speaks UTF-16 through its wide API.
// Every name, argument and text crosses between the two here, so that a path
// or a label in Chinese means the same whatever the machine's ANSI code page.

#include <string>
#include <string_view>

namespace voltrix {

// UTF-8 to UTF-16; bytes that are not UTF-8 become U+FFFD.
std::wstring widen(std::string_view utf8);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string narrow(std::wstring_view utf16);

}  // namespace voltrix

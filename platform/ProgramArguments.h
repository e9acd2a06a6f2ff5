#pragma once
// The words a program was started with, after its own name, as UTF-8. On
// Windows they are read from the UTF-16 command line, so that a path or a
// label in Chinese arrives whole whatever the ANSI code page; elsewhere
// they are main()'s, byte for byte.

#include <string>
#include <vector>

namespace voltrix {

// `argc` and `argv` are main()'s; Windows reads its own command line instead.
std::vector<std::string> programArguments(int argc, const char* const* argv);

}  // namespace voltrix

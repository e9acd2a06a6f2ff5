#include <algorithm>

#include "platform/ProgramArguments.h"

namespace voltrix {

std::vector<std::string> programArguments(int argc, const char* const* argv) {
  if (argv == nullptr || argc <= 1) return {};
  return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace voltrix

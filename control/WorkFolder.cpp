#include "control/WorkFolder.h"

#include <algorithm>

namespace voltrix {

namespace {

bool isSeparator(char c) {
  return c == '/' || c == '\\';
}

char folded(char c) {
  if (isSeparator(c)) return '\\';
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// A drive's root keeps its separator ("C:\"), any other folder loses its
// trailing ones.
std::string_view withoutTrailingSeparators(std::string_view name) {
  while (name.size() > 1 && isSeparator(name.back())) {
    if (name.size() == 3 && name[1] == ':') break;
    name.remove_suffix(1);
  }
  return name;
}

}  // namespace

bool sameWindowsFolder(std::string_view a, std::string_view b) {
  a = withoutTrailingSeparators(a);
  b = withoutTrailingSeparators(b);
  if (a.empty() || b.empty()) return false;
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return folded(x) == folded(y); });
}

bool worksInDocuments(bool imageNamed, std::string_view workingFolder,
                      std::string_view programFolder, bool imageInWorkingFolder) {
  return !imageNamed && !imageInWorkingFolder && sameWindowsFolder(workingFolder, programFolder);
}

}  // namespace voltrix

#include "station/NaturalOrder.h"

namespace voltrix {

namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

bool naturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      // Leading zeros change no value; then the longer run is the larger.
      while (i < a.size() && a[i] == '0') ++i;
      while (j < b.size() && b[j] == '0') ++j;
      std::size_t endA = i;
      std::size_t endB = j;
      while (endA < a.size() && isDigit(a[endA])) ++endA;
      while (endB < b.size() && isDigit(b[endB])) ++endB;
      if (endA - i != endB - j) return endA - i < endB - j;
      const int order = a.compare(i, endA - i, b, j, endB - j);
      if (order != 0) return order < 0;
      i = endA;
      j = endB;
      continue;
    }
    if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
    ++i;
    ++j;
  }
  // Equal so far: the shorter rest comes first; then the plain order (VCP02
  // and VCP2 are told apart all the same).
  if ((a.size() - i) != (b.size() - j)) return a.size() - i < b.size() - j;
  return a < b;
}

}  // namespace voltrix

#include "station/StationExitCode.h"

#include <algorithm>
#include <array>

namespace voltrix {

namespace {

constexpr std::array kWorstFirst = {9, 7, 10, 1, 8, 6, 5, 4, 3, 2, 11, 0};

int rank(int exitCode) {
  const auto* found = std::find(kWorstFirst.begin(), kWorstFirst.end(), exitCode);
  // A code outside the list is an internal error's.
  if (found == kWorstFirst.end()) found = std::find(kWorstFirst.begin(), kWorstFirst.end(), 1);
  return static_cast<int>(found - kWorstFirst.begin());
}

}  // namespace

int worstExitCode(const std::vector<int>& exitCodes) {
  int worst = 0;
  for (const int code : exitCodes) {
    if (rank(code) < rank(worst)) worst = code;
  }
  return worst;
}

}  // namespace voltrix

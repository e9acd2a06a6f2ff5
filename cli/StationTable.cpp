#include "cli/StationTable.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace voltrix::cli {

namespace {

constexpr std::array kWorstFirst = {9, 7, 10, 1, 8, 6, 5, 4, 3, 2, 11, 0};

int rank(int exitCode) {
  const auto* found = std::find(kWorstFirst.begin(), kWorstFirst.end(), exitCode);
  // A code outside the list is an internal error's.
  if (found == kWorstFirst.end()) found = std::find(kWorstFirst.begin(), kWorstFirst.end(), 1);
  return static_cast<int>(found - kWorstFirst.begin());
}

std::string resultOf(const RunSummary& summary) {
  if (summary.result == RunSummary::Result::Verified) return "verified";
  std::string result = "failed";
  if (const std::string failure = describeFailure(summary); !failure.empty()) {
    result += ": " + failure;
  }
  return result + " (exit " + std::to_string(summary.exitCode) + ")";
}

std::string padded(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

}  // namespace

std::string stationTable(const std::vector<StationRow>& rows, bool cancelled) {
  const std::string ending = cancelled ? "station cancelled by the operator\n" : "";
  if (rows.empty()) return "no device was flashed\n" + ending;
  std::size_t nameWidth = 4;
  std::size_t portWidth = 4;
  for (const StationRow& row : rows) {
    nameWidth = std::max(nameWidth, row.name.size());
    portWidth = std::max(portWidth, row.summary.port.size());
  }
  std::string table = padded("slot", nameWidth) + "  " + padded("port", portWidth) +
                      "  segments      bytes  seconds  result\n";
  for (const StationRow& row : rows) {
    char figures[64];
    std::snprintf(figures, sizeof figures, "  %3d of %-3d %10llu %8.1f  ", row.summary.segments,
                  row.summary.segmentsInImage, static_cast<unsigned long long>(row.summary.bytes),
                  row.summary.seconds);
    table += padded(row.name, nameWidth) + "  " + padded(row.summary.port, portWidth) + figures +
             resultOf(row.summary) + "\n";
  }
  return table + ending;
}

int worstExitCode(const std::vector<int>& exitCodes) {
  int worst = 0;
  for (const int code : exitCodes) {
    if (rank(code) < rank(worst)) worst = code;
  }
  return worst;
}

}  // namespace voltrix::cli

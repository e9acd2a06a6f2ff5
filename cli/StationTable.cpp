#include "cli/StationTable.h"

#include <algorithm>
#include <cstdio>

namespace voltrix::cli {

namespace {

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

}  // namespace voltrix::cli

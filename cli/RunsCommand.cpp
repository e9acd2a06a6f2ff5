#include "cli/RunsCommand.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "control/ExitCodes.h"
#include "record/JsonText.h"
#include "record/RecordColumns.h"
#include "record/ResultsStore.h"
#include "record/TraceLog.h"

namespace voltrix::cli {

namespace {

void printCsv(const std::vector<JsonDocument>& records, std::FILE* out) {
  std::fprintf(out, "%s\n", recordCsvHeader().c_str());
  for (const JsonDocument& record : records)
    std::fprintf(out, "%s\n", recordCsvRow(record).c_str());
}

std::string fieldText(const JsonDocument& record, const char* name) {
  return recordFieldText(record, name);
}

std::string padded(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// One line per run: when it ended, the slot as the operator knows it, the
// port, the bytes, the seconds, the exit code and the result's text; then
// the tally.
void printTable(const std::vector<JsonDocument>& records, std::FILE* out) {
  struct Row {
    std::string ended, slot, port, bytes, seconds, exitCode, result;
  };
  std::vector<Row> rows;
  int verified = 0;
  for (const JsonDocument& record : records) {
    Row row;
    row.ended = fieldText(record, "end");
    if (row.ended.empty()) row.ended = fieldText(record, "start");
    row.slot = fieldText(record, "label");
    if (row.slot.empty()) row.slot = fieldText(record, "slot");
    if (row.slot.empty()) row.slot = "-";  // a port without a USB path
    row.port = fieldText(record, "port");
    row.bytes = fieldText(record, "bytes");
    row.seconds = fieldText(record, "seconds");
    row.exitCode = fieldText(record, "exit_code");
    row.result = fieldText(record, "result");
    // One run, one line: line breaks (or a terminal's control bytes) in a
    // text would tear the table.
    for (std::string* text : {&row.slot, &row.port, &row.result}) {
      std::replace_if(
          text->begin(), text->end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; },
          ' ');
    }
    if (row.exitCode == "0") ++verified;
    rows.push_back(std::move(row));
  }
  std::size_t widths[6] = {3, 4, 4, 5, 7, 4};
  const auto widen = [&widths](const Row& row) {
    const std::string* cells[] = {&row.ended, &row.slot,    &row.port,
                                  &row.bytes, &row.seconds, &row.exitCode};
    for (int i = 0; i < 6; ++i) widths[i] = std::max(widths[i], cells[i]->size());
  };
  for (const Row& row : rows) widen(row);
  const auto print = [&](const Row& row) {
    std::fprintf(out, "%s  %s  %s  %*s  %*s  %*s  %s\n", padded(row.ended, widths[0]).c_str(),
                 padded(row.slot, widths[1]).c_str(), padded(row.port, widths[2]).c_str(),
                 static_cast<int>(widths[3]), row.bytes.c_str(), static_cast<int>(widths[4]),
                 row.seconds.c_str(), static_cast<int>(widths[5]), row.exitCode.c_str(),
                 row.result.c_str());
  };
  print({"end", "slot", "port", "bytes", "seconds", "exit", "result"});
  for (const Row& row : rows) print(row);
  const int runs = static_cast<int>(rows.size());
  std::fprintf(out, "%d run%s: %d verified, %d failed\n", runs, runs == 1 ? "" : "s", verified,
               runs - verified);
}

}  // namespace

int printRuns(const CliOptions& options, std::FILE* out, std::FILE* err) {
  const std::string since = options.since ? utcTimestamp(*options.since) : std::string();
  const std::string database = options.dbFile.value_or(std::string());
  const StoredRecords stored = readStoredRecords(database, since);
  if (!stored.ok) {
    std::fprintf(err, "voltrix-cli: %s\n", stored.error.c_str());
    return kExitFileError;
  }
  if (options.output == CliOptions::Output::Json) {
    for (const std::string& line : stored.records) std::fprintf(out, "%s\n", line.c_str());
    std::fflush(out);
    return kExitOk;
  }
  std::vector<JsonDocument> records;
  for (const std::string& line : stored.records) {
    JsonDocument record = JsonDocument::parse(line, nullptr, false);
    if (!record.is_discarded() && record.is_object()) records.push_back(std::move(record));
  }
  if (options.csv) {
    printCsv(records, out);
  } else {
    printTable(records, out);
  }
  std::fflush(out);
  return kExitOk;
}

}  // namespace voltrix::cli

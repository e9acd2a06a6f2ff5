#include "record/RecordColumns.h"

#include <iterator>

namespace voltrix {

namespace {

using Kind = RecordColumn::Kind;

constexpr RecordColumn kColumns[] = {
    {"id", nullptr, "id", Kind::Text},
    {"station", nullptr, "station", Kind::Text},
    {"version", nullptr, "version", Kind::Text},
    {"start", nullptr, "start", Kind::Time},
    {"end", nullptr, "end", Kind::Time},
    {"slot", nullptr, "slot", Kind::Text},
    {"port", nullptr, "port", Kind::Text},
    {"usb_vid_pid", "usb", "vid_pid", Kind::Text},
    {"usb_serial", "usb", "serial", Kind::Text},
    {"usb_path", "usb", "path", Kind::Text},
    {"image_path", "image", "path", Kind::Text},
    {"image_sha256", "image", "sha256", Kind::Text},
    {"segments", nullptr, "segments", Kind::Integer},
    {"bytes", nullptr, "bytes", Kind::Integer},
    {"seconds", nullptr, "seconds", Kind::Number},
    {"result", nullptr, "result", Kind::Text},
    {"exit_code", nullptr, "exit_code", Kind::Integer},
    {"label", nullptr, "label", Kind::Text},
    {"failure_kind", nullptr, "failure_kind", Kind::Text},
    {"failed_segment", nullptr, "failed_segment", Kind::Integer},
    {"failed_address", nullptr, "failed_address", Kind::Text},
    {"hint", nullptr, "hint", Kind::Text},
    {"run_folder", nullptr, "run_folder", Kind::Text},
};

std::string csvCell(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

std::span<const RecordColumn> recordColumns() {
  return kColumns;
}

const JsonDocument* recordField(const JsonDocument& record, const RecordColumn& column) {
  const JsonDocument* from = &record;
  if (column.object != nullptr) {
    const auto nested = record.find(column.object);
    if (nested == record.end() || !nested->is_object()) return nullptr;
    from = &*nested;
  }
  const auto value = from->find(column.key);
  if (value == from->end() || value->is_null()) return nullptr;
  return &*value;
}

std::string recordFieldText(const JsonDocument& record, const RecordColumn& column) {
  const JsonDocument* value = recordField(record, column);
  if (value == nullptr) return {};
  if (value->is_string()) return value->get<std::string>();
  return jsonLine(*value);
}

std::string recordFieldText(const JsonDocument& record, std::string_view columnName) {
  for (const RecordColumn& column : kColumns) {
    if (columnName == column.name) return recordFieldText(record, column);
  }
  return {};
}

std::string recordCsvHeader() {
  std::string line;
  for (const RecordColumn& column : kColumns) {
    if (!line.empty()) line += ',';
    line += column.name;
  }
  return line;
}

std::string recordCsvRow(const JsonDocument& record) {
  std::string line;
  for (std::size_t i = 0; i < std::size(kColumns); ++i) {
    if (i > 0) line += ',';
    line += csvCell(recordFieldText(record, kColumns[i]));
  }
  return line;
}

}  // namespace voltrix

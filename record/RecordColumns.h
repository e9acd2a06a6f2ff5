#pragma once
// The log record's fields as the columns of a table, in the log's order,
// `usb` and `image` flattened (`usb_vid_pid`, `image_sha256`, ...): the
// header of a CSV export and the columns of a database's `runs`, so that
// every export of the runs reads the same.

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "record/JsonText.h"

namespace voltrix {

struct RecordColumn {
  enum class Kind { Text, Integer, Number, Time };
  const char* name;
  const char* object;  // the nested object it lives in, or null
  const char* key;
  Kind kind;
};

std::span<const RecordColumn> recordColumns();

// The field's JSON value; null when the record lacks it.
const JsonDocument* recordField(const JsonDocument& record, const RecordColumn& column);
// A field as text: strings as they are, numbers as the log writes them,
// null and missing as nothing.
std::string recordFieldText(const JsonDocument& record, const RecordColumn& column);
std::string recordFieldText(const JsonDocument& record, std::string_view columnName);

// The header row and one record's row, without the line break; cells
// quoted where they hold a comma, a quote or a line break.
std::string recordCsvHeader();
std::string recordCsvRow(const JsonDocument& record);

}  // namespace voltrix

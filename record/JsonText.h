#pragma once
// The summary object and the traceability log's records are JSON documents
// built with nlohmann-json, keys in the order they are added. They are
// written here, one line each, in the exact bytes earlier versions wrote,
// so that a script that compared lines, or a log that mixes old and new
// records, sees no difference: strings escaped as jsonString does,
// fractional numbers (the seconds) to the millisecond with three decimals.

#include <nlohmann/json.hpp>
#include <string>

namespace voltrix {

using JsonDocument = nlohmann::ordered_json;

// `text` quoted: quotes, backslashes and control characters escaped, UTF-8
// passed as it is, and each byte that is not part of valid UTF-8 replaced by
// U+FFFD, so that a file name in another encoding cannot make the line
// unreadable.
std::string jsonString(const std::string& text);

// A text, or null when it is empty.
JsonDocument textOrNull(const std::string& text);

// `document` on one line, without spaces.
std::string jsonLine(const JsonDocument& document);

}  // namespace voltrix

#pragma once
// Text as a JSON string, for the summary object and the traceability log:
// every line a JSON reader can take, whatever the text holds.

#include <string>

namespace voltrix {

// `text` quoted: quotes, backslashes and control characters escaped, UTF-8
// passed as it is, and each byte that is not part of valid UTF-8 replaced by
// U+FFFD, so that a file name in another encoding cannot make the line
// unreadable.
std::string jsonString(const std::string& text);

}  // namespace voltrix

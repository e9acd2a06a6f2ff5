#pragma once
// The start of a shift as an operator writes it for --since: a time of day
// in ISO 8601 ("2026-12-09T06:00", "2026-12-09 06:00:30", "2026-12-09"; the
// local time unless it ends in Z or an offset such as +08:00), or how long
// ago ("8h", "30m", "45s", "2d").

#include <chrono>
#include <optional>
#include <string>

namespace voltrix::cli {

// Empty for anything else, or for a time that does not exist.
std::optional<std::chrono::system_clock::time_point> sinceTime(
    const std::string& text, std::chrono::system_clock::time_point now);

}  // namespace voltrix::cli

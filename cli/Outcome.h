#pragma once
// What a run's messages and boxes mean for the exit code and for the hint
// the operator gets.

#include <cstdint>

namespace voltrix::cli {

// The exit code for the text of a message box the download command showed.
int exitCodeForBox(const char* text);
// The exit code for a run that ended with message `id` carrying `text`
// (UWM_ERROR or UWM_PORT_FAIL).
int exitCodeForFailure(std::uint32_t id, const char* text);

}  // namespace voltrix::cli

#pragma once
// The termios constant for a line speed in bit/s.

#include <termios.h>

#include <cstdint>
#include <optional>

namespace voltrix {

// Empty when the platform has no constant for that speed.
std::optional<speed_t> speedConstant(std::uint32_t baudRate);

}  // namespace voltrix

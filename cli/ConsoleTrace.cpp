#include "cli/ConsoleTrace.h"

namespace voltrix::cli {

std::string traceLine(double seconds, const std::string& port, const char* direction,
                      const std::uint8_t* bytes, std::size_t length) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%12.6f] ", seconds);
  std::string line = stamp;
  if (!port.empty()) line += port + " ";
  line += direction;
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < length; ++i) {
    line += ' ';
    line += kDigits[bytes[i] >> 4];
    line += kDigits[bytes[i] & 0x0F];
  }
  return line;
}

void ConsoleTrace::sent(const std::uint8_t* bytes, std::size_t length) noexcept {
  write("->", bytes, length);
}

void ConsoleTrace::received(const std::uint8_t* bytes, std::size_t length) noexcept {
  write("<-", bytes, length);
}

void ConsoleTrace::write(const char* direction, const std::uint8_t* bytes,
                         std::size_t length) noexcept {
  try {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - origin_).count();
    const std::string line = traceLine(seconds, port_, direction, bytes, length) + "\n";
    std::fputs(line.c_str(), out_);
    std::fflush(out_);
  } catch (...) {
    // Out of memory for a trace line: the run goes on without it.
  }
}

}  // namespace voltrix::cli

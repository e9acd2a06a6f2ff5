#pragma once
// The protocol trace of -v/--verbose: one line per piece of traffic on
// standard error, with the time since the trace began, the direction and the
// bytes in hex:
//
//   [   0.012345] /dev/ttyACM0 -> 57
//   [   0.013020] /dev/ttyACM0 <- 06
//
// Each line is written with one call, so the lines of devices side by side
// never mix.

#include <chrono>
#include <cstdio>
#include <string>

#include "link/ProtocolTrace.h"

namespace voltrix::cli {

class ConsoleTrace final : public ProtocolTrace {
 public:
  ConsoleTrace(std::FILE* out, std::string port,
               std::chrono::steady_clock::time_point origin = std::chrono::steady_clock::now())
      : out_(out), port_(std::move(port)), origin_(origin) {}

  void sent(const std::uint8_t* bytes, std::size_t length) noexcept override;
  void received(const std::uint8_t* bytes, std::size_t length) noexcept override;

 private:
  void write(const char* direction, const std::uint8_t* bytes, std::size_t length) noexcept;

  std::FILE* out_;
  std::string port_;
  std::chrono::steady_clock::time_point origin_;
};

// The line ConsoleTrace writes, without its line break.
std::string traceLine(double seconds, const std::string& port, const char* direction,
                      const std::uint8_t* bytes, std::size_t length);

}  // namespace voltrix::cli

#include "port/ComNumber.h"

#include <cctype>
#include <limits>

namespace voltrix {

namespace {

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  }
  return true;
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

bool DigitRun::isPlainNumber(std::size_t maxDigits) const {
  if (digits.empty() || digits.size() > maxDigits || !value) return false;
  return digits.size() == 1 || digits.front() != '0';
}

DigitRun leadingDigits(std::string_view text) {
  std::size_t length = 0;
  while (length < text.size() && isDigit(text[length])) ++length;
  DigitRun run{text.substr(0, length), text.substr(length), std::nullopt};
  if (run.digits.empty()) return run;
  std::uint64_t value = 0;
  for (char c : run.digits) {
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > std::numeric_limits<std::uint32_t>::max()) return run;
  }
  run.value = static_cast<std::uint32_t>(value);
  return run;
}

std::optional<DigitRun> parseComDigits(std::string_view text) {
  constexpr std::string_view kPrefix = "COM";
  if (!startsWithIgnoringCase(text, kPrefix)) return std::nullopt;
  return leadingDigits(text.substr(kPrefix.size()));
}

int portNumberFromValue(const std::string& data) {
  const auto com = parseComDigits(data);
  if (com && !com->digits.empty()) {
    if (!com->value) return 0;
    if (*com->value > static_cast<std::uint32_t>(std::numeric_limits<int>::max())) return 0;
    return static_cast<int>(*com->value);
  }
  // No digit after "COM": the device map has always been read as the fourth
  // character, as a signed byte, minus '0'. Whatever that gives, the port
  // refuses what it cannot open.
  if (data.size() < 4) return 0;
  return static_cast<int>(static_cast<std::int8_t>(data[3])) - '0';
}

}  // namespace voltrix

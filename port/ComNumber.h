#pragma once
// Reading the number out of a COM port's name: the one digit reader behind
// the override directory's entry names, the USB device names and the device
// map's values.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace voltrix {

// The run of decimal digits at the start of a text.
struct DigitRun {
  std::string_view digits;  // may be empty
  std::string_view rest;    // what follows them
  // Their value; empty for no digits or a value above 0xFFFFFFFF.
  std::optional<std::uint32_t> value;

  // One to `maxDigits` digits without a leading zero ("0" itself allowed).
  bool isPlainNumber(std::size_t maxDigits) const;
};
DigitRun leadingDigits(std::string_view text);

// The digits that follow "COM" in any case at the start of `text`; empty
// when the text does not start so.
std::optional<DigitRun> parseComDigits(std::string_view text);

// The port number of a device-map value: the digits that follow "COM"
// ("COM12" is 12, "COM3:" and "com3" are 3); more than a port number can
// hold gives 0, which the serial port refuses. A value without such digits
// is read by its fourth character alone, as it always was ("COMX" is 'X' -
// '0'; a value shorter than four characters gives 0).
int portNumberFromValue(const std::string& data);

}  // namespace voltrix

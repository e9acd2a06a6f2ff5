#include "record/JsonText.h"

#include <cmath>
#include <cstdio>

namespace voltrix {

namespace {

constexpr char kReplacementCharacter[] = "\xEF\xBF\xBD";

bool isContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence at `text[at]` (at least two
// bytes long, its lead byte at or above 0x80); 0 when it is not one.
// Overlong forms, surrogates and code points above U+10FFFF are not.
std::size_t utf8SequenceLength(const std::string& text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  const auto second = static_cast<unsigned char>(text[at + 1]);
  if (second < low || second > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!isContinuation(static_cast<unsigned char>(text[at + i]))) return 0;
  }
  return length;
}

}  // namespace

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  out.reserve(text.size() + 2);
  for (std::size_t at = 0; at < text.size();) {
    const char c = text[at];
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) {
      const std::size_t length = utf8SequenceLength(text, at);
      if (length == 0) {
        out += kReplacementCharacter;
        ++at;
      } else {
        out.append(text, at, length);
        at += length;
      }
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
    ++at;
  }
  return out + "\"";
}

JsonDocument textOrNull(const std::string& text) {
  return text.empty() ? JsonDocument() : JsonDocument(text);
}

namespace {

void writeJson(const JsonDocument& value, std::string& out) {
  switch (value.type()) {
    case JsonDocument::value_t::object: {
      out += '{';
      bool first = true;
      for (const auto& [key, member] : value.items()) {
        if (!first) out += ',';
        first = false;
        out += jsonString(key);
        out += ':';
        writeJson(member, out);
      }
      out += '}';
      return;
    }
    case JsonDocument::value_t::array: {
      out += '[';
      bool first = true;
      for (const JsonDocument& element : value) {
        if (!first) out += ',';
        first = false;
        writeJson(element, out);
      }
      out += ']';
      return;
    }
    case JsonDocument::value_t::string:
      out += jsonString(value.get_ref<const std::string&>());
      return;
    case JsonDocument::value_t::boolean:
      out += value.get<bool>() ? "true" : "false";
      return;
    case JsonDocument::value_t::number_integer:
    case JsonDocument::value_t::number_unsigned:
      out += value.dump();
      return;
    case JsonDocument::value_t::number_float: {
      const double number = value.get<double>();
      if (!std::isfinite(number)) break;
      char text[48];
      std::snprintf(text, sizeof text, "%.3f", number);
      out += text;
      return;
    }
    case JsonDocument::value_t::null:
    case JsonDocument::value_t::binary:
    case JsonDocument::value_t::discarded:
      break;
  }
  out += "null";
}

}  // namespace

std::string jsonLine(const JsonDocument& document) {
  std::string out;
  writeJson(document, out);
  return out;
}

}  // namespace voltrix

#pragma once
// A strict reader of the JSON the log writes (objects, strings, numbers,
// true, false, null): a line is accepted only when every JSON reader would take it (no
// raw control characters, valid UTF-8, nothing after the value).

#include <cctype>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace voltrix::test {

struct JsonValue {
  enum class Kind { Null, Bool, Number, String, Object } kind = Kind::Null;
  bool truth = false;
  double number = 0;
  std::string text;
  std::map<std::string, JsonValue> members;

  bool has(const std::string& name) const { return members.count(name) != 0; }
  const JsonValue& operator[](const std::string& name) const { return members.at(name); }
};

class JsonReader {
 public:
  static std::optional<JsonValue> parse(const std::string& text) {
    JsonReader reader(text);
    JsonValue value;
    if (!reader.value(value)) return std::nullopt;
    reader.skipSpace();
    if (reader.at_ != text.size()) return std::nullopt;
    return value;
  }

 private:
  explicit JsonReader(const std::string& text) : text_(text) {}

  void skipSpace() {
    while (at_ < text_.size() && std::string(" \t\r\n").find(text_[at_]) != std::string::npos)
      ++at_;
  }
  bool literal(const char* word) {
    const std::string expected(word);
    if (text_.compare(at_, expected.size(), expected) != 0) return false;
    at_ += expected.size();
    return true;
  }
  bool value(JsonValue& out) {
    skipSpace();
    if (at_ >= text_.size()) return false;
    const char c = text_[at_];
    if (c == '{') return object(out);
    if (c == '"') {
      out.kind = JsonValue::Kind::String;
      return string(out.text);
    }
    if (literal("null")) return true;
    if (literal("true") || literal("false")) {
      out.kind = JsonValue::Kind::Bool;
      out.truth = text_[at_ - 1] == 'e' && text_[at_ - 2] == 'u';
      return true;
    }
    return number(out);
  }
  bool object(JsonValue& out) {
    out.kind = JsonValue::Kind::Object;
    ++at_;
    skipSpace();
    if (at_ < text_.size() && text_[at_] == '}') return ++at_, true;
    for (;;) {
      skipSpace();
      std::string name;
      if (at_ >= text_.size() || text_[at_] != '"' || !string(name)) return false;
      if (out.members.count(name) != 0) return false;  // a duplicate name is a writer's bug
      skipSpace();
      if (at_ >= text_.size() || text_[at_++] != ':') return false;
      if (!value(out.members[name])) return false;
      skipSpace();
      if (at_ >= text_.size()) return false;
      if (text_[at_] == '}') return ++at_, true;
      if (text_[at_++] != ',') return false;
    }
  }
  bool number(JsonValue& out) {
    const std::size_t start = at_;
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    const std::size_t digits = at_;
    while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) ++at_;
    if (at_ == digits || (text_[digits] == '0' && at_ - digits > 1)) return false;
    if (at_ < text_.size() && text_[at_] == '.') {
      const std::size_t fraction = ++at_;
      while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) ++at_;
      if (at_ == fraction) return false;
    }
    out.kind = JsonValue::Kind::Number;
    out.number = std::strtod(text_.substr(start, at_ - start).c_str(), nullptr);
    return true;
  }
  bool string(std::string& out) {
    ++at_;
    while (at_ < text_.size()) {
      const auto c = static_cast<unsigned char>(text_[at_]);
      if (c == '"') return ++at_, true;
      if (c < 0x20) return false;
      if (c == '\\') {
        if (++at_ >= text_.size()) return false;
        const char escape = text_[at_++];
        const std::string simple = "\"\\/bfnrt";
        const std::string meaning = "\"\\/\b\f\n\r\t";
        if (const auto index = simple.find(escape); index != std::string::npos) {
          out += meaning[index];
        } else if (escape == 'u' && at_ + 4 <= text_.size()) {
          char* end = nullptr;
          const std::string hex = text_.substr(at_, 4);
          const unsigned code = static_cast<unsigned>(std::strtoul(hex.c_str(), &end, 16));
          // The log escapes only control characters.
          if (end != hex.c_str() + 4 || code >= 0x80) return false;
          out += static_cast<char>(code);
          at_ += 4;
        } else {
          return false;
        }
        continue;
      }
      const std::size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
      if (length == 0 || at_ + length > text_.size()) return false;
      for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text_[at_ + i]) & 0xC0) != 0x80) return false;
      }
      out.append(text_, at_, length);
      at_ += length;
    }
    return false;
  }

  const std::string& text_;
  std::size_t at_ = 0;
};

}  // namespace voltrix::test

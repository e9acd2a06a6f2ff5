#pragma once
// The tests read the JSON the programs write with nlohmann-json, strictly: a
// line is accepted only when every JSON reader would take it (no raw control
// characters, valid UTF-8, nothing after the value) and no object names a
// member twice (a writer's bug that readers resolve differently).

#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace voltrix::test {

struct JsonValue {
  enum class Kind { Null, Bool, Number, String, Object, Array } kind = Kind::Null;
  bool truth = false;
  double number = 0;
  std::string text;
  std::map<std::string, JsonValue> members;
  std::vector<JsonValue> elements;

  bool has(const std::string& name) const { return members.count(name) != 0; }
  const JsonValue& operator[](const std::string& name) const { return members.at(name); }
};

class JsonReader {
 public:
  static std::optional<JsonValue> parse(const std::string& text) {
    // One set of names per object being read.
    std::vector<std::set<std::string>> names;
    bool duplicate = false;
    const auto watch = [&](int, nlohmann::json::parse_event_t event, nlohmann::json& parsed) {
      using Event = nlohmann::json::parse_event_t;
      if (event == Event::object_start) names.emplace_back();
      if (event == Event::object_end && !names.empty()) names.pop_back();
      if (event == Event::key && !names.empty() &&
          !names.back().insert(parsed.get<std::string>()).second) {
        duplicate = true;
      }
      return true;
    };
    const nlohmann::json document = nlohmann::json::parse(text, watch, false);
    if (document.is_discarded() || duplicate) return std::nullopt;
    return convert(document);
  }

 private:
  static JsonValue convert(const nlohmann::json& from) {
    JsonValue value;
    if (from.is_boolean()) {
      value.kind = JsonValue::Kind::Bool;
      value.truth = from.get<bool>();
    } else if (from.is_number()) {
      value.kind = JsonValue::Kind::Number;
      value.number = from.get<double>();
    } else if (from.is_string()) {
      value.kind = JsonValue::Kind::String;
      value.text = from.get<std::string>();
    } else if (from.is_object()) {
      value.kind = JsonValue::Kind::Object;
      for (const auto& [name, member] : from.items()) value.members[name] = convert(member);
    } else if (from.is_array()) {
      value.kind = JsonValue::Kind::Array;
      for (const nlohmann::json& element : from) value.elements.push_back(convert(element));
    }
    return value;
  }
};

}  // namespace voltrix::test

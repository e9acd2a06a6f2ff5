#include "platform/CommandLine.h"

#include <CLI/CLI.hpp>
#include <algorithm>

namespace voltrix {

namespace {

constexpr char kFlagGivenValue[] = " was given a disallowed flag override";

// CLI11 names an option by its long name without dashes in some messages.
std::string asOption(std::string name) {
  if (name.rfind('-', 0) != 0) name.insert(0, name.size() == 1 ? "-" : "--");
  return name;
}

std::string explain(const CLI::ParseError& error, const MissingValueText& missingValue) {
  const std::string text = error.what();
  if (const auto at = text.find(kFlagGivenValue); at != std::string::npos) {
    return asOption(text.substr(0, at)) + " takes no value";
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr) {
    // "--port: 1 required TEXT missing"
    if (const auto colon = text.find(':'); colon != std::string::npos && colon > 0) {
      const std::string option = asOption(text.substr(0, colon));
      return missingValue ? missingValue(option) : option + " needs a value";
    }
  }
  return text;
}

}  // namespace

void prepareCommandLine(CLI::App& app) {
  app.set_help_flag();
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

std::string parseCommandLine(CLI::App& app, const std::vector<std::string>& arguments,
                             const MissingValueText& missingValue) {
  app.allow_extras();
  // CLI11 takes the arguments last first.
  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    return explain(error, missingValue);
  }
  for (const std::string& extra : app.remaining()) {
    if (extra.size() > 1 && extra[0] == '-') {
      return "unknown option '" + extra.substr(0, extra.find('=')) + "'";
    }
    return "unknown argument '" + extra + "'";
  }
  return {};
}

}  // namespace voltrix

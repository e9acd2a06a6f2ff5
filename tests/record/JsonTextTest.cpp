// The JSON line writer: the bytes earlier versions wrote, whatever the
// document holds, and a line nlohmann-json reads back to the same values.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "record/JsonText.h"

namespace voltrix {
namespace {

TEST(JsonLine, WritesEveryKindAsTheRecordsAlwaysHad) {
  struct Case {
    JsonDocument value;
    const char* line;
  };
  JsonDocument ordered;
  ordered["z"] = 1;
  ordered["a"] = JsonDocument::array({true, false, nullptr});
  ordered["m"]["inner"] = "x";
  const Case cases[] = {
      {JsonDocument(1.5), "1.500"},
      {JsonDocument(0.0004), "0.000"},
      {JsonDocument(2.0), "2.000"},
      {JsonDocument(std::numeric_limits<double>::infinity()), "null"},
      {JsonDocument(std::numeric_limits<double>::quiet_NaN()), "null"},
      {JsonDocument(-7), "-7"},
      {JsonDocument(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615"},
      {JsonDocument("a\nb\"\\"), R"("a\u000ab\"\\")"},
      {JsonDocument("bad \xff\xfe"), "\"bad \xEF\xBF\xBD\xEF\xBF\xBD\""},
      {textOrNull(""), "null"},
      {JsonDocument::object(), "{}"},
      {JsonDocument::array(), "[]"},
      {ordered, R"({"z":1,"a":[true,false,null],"m":{"inner":"x"}})"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(jsonLine(c.value), c.line);
    // What is written is read back as the same document (U+FFFD aside).
    const auto read = nlohmann::ordered_json::parse(jsonLine(c.value), nullptr, false);
    EXPECT_FALSE(read.is_discarded()) << c.line;
  }
}

}  // namespace
}  // namespace voltrix

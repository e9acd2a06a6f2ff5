// The uplink's parts that need no line: the line's URL, the station's token
// file, and the outbox that is the log beyond what the line took.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "tests/support/TempDir.h"
#include "uplink/LineAddress.h"
#include "uplink/Outbox.h"

namespace voltrix::uplink {
namespace {

TEST(LineUrl, TakesHttpAndHttpsWithPortAndPrefix) {
  struct Case {
    const char* url;
    bool https;
    const char* host;
    int port;
    const char* prefix;
    const char* origin;
  };
  for (const Case& row : {
           Case{"http://line.plant:8080", false, "line.plant", 8080, "", "http://line.plant:8080"},
           Case{"https://line", true, "line", 443, "", "https://line:443"},
           Case{"http://10.0.0.5/", false, "10.0.0.5", 80, "", "http://10.0.0.5:80"},
           Case{"http://[::1]:9000/plant/a/", false, "::1", 9000, "/plant/a", "http://[::1]:9000"},
       }) {
    SCOPED_TRACE(row.url);
    std::string error;
    const auto address = parseLineUrl(row.url, error);
    ASSERT_TRUE(address) << error;
    EXPECT_EQ(address->https, row.https);
    EXPECT_EQ(address->host, row.host);
    EXPECT_EQ(address->port, row.port);
    EXPECT_EQ(address->prefix, row.prefix);
    EXPECT_EQ(address->origin(), row.origin);
    EXPECT_EQ(address->path("/api/records"), std::string(row.prefix) + "/api/records");
  }
}

TEST(LineUrl, RefusesWhatIsNoLineUrl) {
  for (const char* url :
       {"line:8080", "ftp://line", "http://", "http://line:", "http://line:0", "http://line:65536",
        "http://line:80x", "http://line:-1", "http://user:pw@line", "http://li ne",
        "http://line/a b", "http://line/a?b", "http://[::1", "http://[::1]x", "http://[::1]:"}) {
    SCOPED_TRACE(url);
    std::string error;
    EXPECT_FALSE(parseLineUrl(url, error));
    EXPECT_EQ(error.rfind("--line wants ", 0), 0u) << error;
  }
}

TEST(LineToken, IsTheFirstLineThatIsNoComment) {
  test::TempDir dir;
  struct Case {
    const char* content;
    const char* token;  // null: refused with this in the error
    const char* error;
  };
  for (const Case& row : {
           Case{"# the station's token\n\n  s3cret \t\nother\n", "s3cret", nullptr},
           Case{"s3cret", "s3cret", nullptr},
           Case{"", nullptr, "holds no token"},
           Case{"# nothing\n  \n", nullptr, "holds no token"},
           Case{"two words\n", nullptr, "holds a space"},
       }) {
    SCOPED_TRACE(row.content);
    test::writeFileBytes(dir.file("token"), row.content);
    std::string error;
    const auto token = readLineToken(dir.file("token"), error);
    if (row.token) {
      EXPECT_EQ(token.value_or("(none)"), row.token) << error;
    } else {
      EXPECT_FALSE(token);
      EXPECT_NE(error.find(row.error), std::string::npos) << error;
    }
  }
  std::string error;
  EXPECT_FALSE(readLineToken(dir.file("missing"), error));
  EXPECT_NE(error.find("cannot be read"), std::string::npos) << error;
}

class OutboxTest : public ::testing::Test {
 protected:
  std::vector<std::string> texts(const Outbox::Batch& batch) {
    std::vector<std::string> lines;
    for (const Outbox::Line& line : batch.lines) lines.push_back(line.text);
    return lines;
  }
  std::uint64_t size() const { return std::filesystem::file_size(log); }

  test::TempDir dir;
  const std::string log = dir.file("station.jsonl");
  static constexpr std::size_t kAll = 1000, kBig = 1 << 20;
};

TEST_F(OutboxTest, WhatWasSentStaysSentAcrossARestart) {
  test::writeFileBytes(log,
                       "{\"id\":\"a\",\"end\":\"T1\"}\n\n{\"id\":\"b\"}\n{\"id\":\"c\"}\n{\"id\":");
  {
    Outbox outbox(log);
    EXPECT_EQ(outbox.waiting(size()).records, 3u);
    EXPECT_EQ(outbox.waiting(size()).oldest, "T1");
    const Outbox::Batch batch = outbox.next(2, kBig, size());
    // The blank line is passed over; the torn last piece is not sent.
    EXPECT_EQ(texts(batch),
              (std::vector<std::string>{R"({"id":"a","end":"T1"})", R"({"id":"b"})"}));
    std::string error;
    ASSERT_TRUE(outbox.markSent(batch.end, error)) << error;
    EXPECT_EQ(outbox.waiting(size()).records, 1u);
  }
  Outbox restarted(log);
  EXPECT_EQ(restarted.waiting(size()).records, 1u);
  EXPECT_EQ(texts(restarted.next(kAll, kBig, size())), std::vector<std::string>{R"({"id":"c"})"});
  // The torn record, once whole, is sent.
  test::writeFileBytes(log, test::readFileBytes(log) + "\"d\"}\n");
  EXPECT_EQ(restarted.waiting(size()).records, 2u);
  EXPECT_EQ(restarted.next(kAll, kBig, size()).lines.size(), 2u);
}

TEST_F(OutboxTest, OnlyWhatTheLogKeptIsSentAndBatchesKeepTheirSize) {
  test::writeFileBytes(log, "{\"id\":\"a\"}\n{\"id\":\"b\"}\n{\"id\":\"c\"}\n");
  Outbox outbox(log);
  // Up to the end of the first line only.
  EXPECT_EQ(texts(outbox.next(kAll, kBig, 11)), std::vector<std::string>{R"({"id":"a"})"});
  EXPECT_EQ(outbox.waiting(11).records, 1u);
  // A batch of two lines would pass 15 bytes; a first line longer comes alone.
  EXPECT_EQ(outbox.next(kAll, 15, size()).lines.size(), 1u);
  EXPECT_EQ(outbox.next(kAll, 3, size()).lines.size(), 1u);
  EXPECT_EQ(outbox.next(kAll, kBig, size()).lines.size(), 3u);
}

TEST_F(OutboxTest, ALogReplacedOrCutShortIsSentFromItsStart) {
  test::writeFileBytes(log, "{\"id\":\"a\"}\n{\"id\":\"b\"}\n");
  Outbox outbox(log);
  std::string error;
  ASSERT_TRUE(outbox.markSent(outbox.next(kAll, kBig, size()).end, error)) << error;
  EXPECT_EQ(outbox.waiting(size()).records, 0u);
  // Another file under the log's name.
  test::writeFileBytes(dir.file("new"), "{\"id\":\"x\"}\n");
  ASSERT_EQ(std::rename(dir.file("new").c_str(), log.c_str()), 0);
  EXPECT_EQ(outbox.waiting(size()).records, 1u);
  EXPECT_EQ(Outbox(log).waiting(size()).records, 1u);
  // A progress file that names more than the log holds is not believed.
  ASSERT_TRUE(outbox.markSent(size(), error)) << error;
  test::writeFileBytes(log, "{\"y\":1}\n");
  EXPECT_EQ(texts(Outbox(log).next(kAll, kBig, size())), std::vector<std::string>{R"({"y":1})"});
}

}  // namespace
}  // namespace voltrix::uplink

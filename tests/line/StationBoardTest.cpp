// The line's live view of its stations, on a clock the test moves: a
// station goes away after 30 s without a post and comes back with its next
// one, each change an event; a stream that fell too far behind is told so.

#include <gtest/gtest.h>

#include "line/StationBoard.h"

namespace voltrix {
namespace {

using namespace std::chrono_literals;

JsonDocument state(const std::string& name) {
  return {{"station", name}, {"slots", JsonDocument::array()}};
}

TEST(StationBoardTest, AStationSilentFor30sIsAwayUntilItPostsAgain) {
  StationBoard board;
  const auto start = StationBoard::Clock::now();
  std::string error;
  ASSERT_TRUE(board.takeState(state("line-3"), start, error)) << error;
  board.noteAway(start + 29s);
  EXPECT_EQ(board.stationsJson(start + 29s)["stations"][0]["away"], false);
  EXPECT_EQ(board.lastEvent(), 1u);

  board.noteAway(start + 30s);
  board.noteAway(start + 31s);  // told once
  EXPECT_EQ(board.stationsJson(start + 31s)["stations"][0]["away"], true);
  const StationBoard::Events events = board.eventsAfter(1, 0ms);
  EXPECT_EQ(events.last, 2u);
  EXPECT_NE(events.text.find("event: station\ndata: {\"station\":\"line-3\",\"slots\":[],"
                             "\"away\":true"),
            std::string::npos)
      << events.text;
  EXPECT_NE(board.metricsText(start + 31s, 0, 0).find("voltrix_line_stations_away 1"),
            std::string::npos);

  ASSERT_TRUE(board.takeState(state("line-3"), start + 40s, error));
  EXPECT_EQ(board.stationsJson(start + 40s)["stations"][0]["away"], false);
}

TEST(StationBoardTest, AStateWithoutAStationsNameIsRefused) {
  StationBoard board;
  for (const char* body : {R"([])", R"({"slots":[]})", R"({"station":""})", R"({"station":7})"}) {
    std::string error;
    EXPECT_FALSE(board.takeState(JsonDocument::parse(body), StationBoard::Clock::now(), error))
        << body;
    EXPECT_FALSE(error.empty());
  }
  EXPECT_EQ(board.lastEvent(), 0u);
}

TEST(StationBoardTest, AStreamFallenBehindTheKeptEventsIsToldSo) {
  StationBoard board;
  std::string error;
  for (std::size_t i = 0; i < StationBoard::kKeptEvents + 1; ++i) {
    board.takeState(state("line-3"), StationBoard::Clock::now(), error);
  }
  EXPECT_TRUE(board.eventsAfter(0, 0ms).lost);
  EXPECT_FALSE(board.eventsAfter(1, 0ms).lost);
  board.close();
  EXPECT_TRUE(board.eventsAfter(board.lastEvent(), 10s).ended);
}

TEST(StationBoardTest, TheMetricsCountRecordsByStationWithItsNameEscaped) {
  StationBoard board;
  board.recordsTaken("line \"3\"", 5, {3, 1, 1});
  board.countPost("records", 200);
  const std::string text = board.metricsText(StationBoard::Clock::now(), 2, 7);
  for (const char* line :
       {"voltrix_line_records_received_total{station=\"line \\\"3\\\"\"} 5\n",
        "voltrix_line_records_added_total{station=\"line \\\"3\\\"\"} 3\n",
        "voltrix_line_posts_total{route=\"records\",status=\"200\"} 1\n",
        "voltrix_line_event_streams 2\n", "voltrix_line_database_failures_total 7\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << text;
  }
  EXPECT_NE(
      board.eventsAfter(0, 0ms).text.find("event: runs\ndata: {\"station\":\"line \\\"3\\\"\","
                                          "\"added\":3,\"known\":1,\"notRecords\":1}"),
      std::string::npos);
}

}  // namespace
}  // namespace voltrix

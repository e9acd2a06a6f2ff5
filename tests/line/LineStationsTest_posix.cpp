// Three stations of simulated devices and one line on a throwaway
// PostgreSQL: every run lands in the line's database exactly once whatever
// is killed, stopped, restarted or sent twice, flashing never waits for the
// line, and the line's CSV export holds the stations' logs row for row.

#include <httplib.h>
#include <signal.h>

#include <algorithm>

#include "record/RecordColumns.h"
#include "tests/line/LineStations.h"

namespace voltrix {

std::unique_ptr<test::PgCluster> LineStations::cluster;

namespace {

using namespace std::chrono_literals;

class ThreeStations : public LineStations {
 protected:
  // The runs the line's database holds, by id.
  std::multiset<std::string> runIds() const {
    const std::vector<std::string> ids = query("SELECT id FROM runs");
    return {ids.begin(), ids.end()};
  }
  // Every record of the stations' logs, by id.
  std::multiset<std::string> loggedIds() const {
    std::multiset<std::string> ids;
    for (const char* name : {"line-a", "line-b", "line-c"}) {
      for (const std::string& line : logLines(name)) {
        ids.insert(JsonDocument::parse(line)["id"].get<std::string>());
      }
    }
    return ids;
  }
  test::ProcessResult flash(const std::string& name, const std::vector<std::size_t>& devices) {
    return runProcess(stationArgs(name, devices), environment(), 90s);
  }
};

TEST_F(ThreeStations, EveryRunLandsOnceAfterKillsStopsAndRestarts) {
  // Two devices for each station, and two more for B after its kill: the
  // device it was writing when killed is left mid-download, as a real one
  // is until it is plugged in again.
  for (int i = 0; i < 8; ++i) addDevice();
  ASSERT_NO_FATAL_FAILURE(startLine());

  // A: the line up.
  auto result = flash("line-a", {0, 1});
  ASSERT_EQ(result.exitCode, 0) << result.out;
  ASSERT_EQ(runIds(), loggedIds());

  // The line stopped: B is killed once a record is in its log, before any
  // post can have reached the line; C flashes its devices all the same.
  ASSERT_NO_FATAL_FAILURE(stopLine());
  bool killed = false;
  result = runProcess(stationArgs("line-b", {2, 3}), environment(), 90s,
                      [&](pid_t child, const std::string&) {
                        if (!killed && !logLines("line-b").empty()) {
                          killed = ::kill(child, SIGKILL) == 0;
                        }
                      });
  ASSERT_TRUE(killed) << result.out;
  result = flash("line-c", {4, 5});
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_TRUE(holdsImage(*devices[4]) && holdsImage(*devices[5]));
  EXPECT_TRUE(contains(result.out, "2 records wait in the outbox")) << result.out;

  // The line back on its port: B and C send what waited and their new runs;
  // A's outbox is sent whole a second time (its progress file lost), which
  // adds no row.
  ASSERT_NO_FATAL_FAILURE(startLine());
  for (const char* name : {"line-b", "line-c"}) {
    result = flash(name, name == std::string("line-b") ? std::vector<std::size_t>{6, 7}
                                                       : std::vector<std::size_t>{4, 5});
    EXPECT_EQ(result.exitCode, 0) << name << ": " << result.out;
  }
  const std::size_t before = runIds().size();
  ASSERT_EQ(::unlink((logOf("line-a") + ".line-sent").c_str()), 0);
  result = flash("line-a", {0, 1});
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_EQ(runIds().size(), before + 2);

  const std::multiset<std::string> logged = loggedIds();
  EXPECT_EQ(logged.size(), std::set<std::string>(logged.begin(), logged.end()).size());
  EXPECT_EQ(runIds(), logged);
  EXPECT_EQ(query("SELECT count(DISTINCT station) FROM runs"), std::vector<std::string>{"3"});

  // The export, as a quality engineer downloads it: the header and one row
  // per record of the logs, each as the station's own --runs --csv writes it.
  httplib::Client client(url);
  const auto exported = client.Get("/api/export?format=csv",
                                   {{"Authorization", std::string("Bearer ") + kViewerToken}});
  ASSERT_TRUE(exported && exported->status == 200);
  std::vector<std::string> rows = linesOf(exported->body);
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows.front(), recordCsvHeader());
  rows.erase(rows.begin());
  std::vector<std::string> expected;
  for (const char* name : {"line-a", "line-b", "line-c"}) {
    for (const std::string& line : logLines(name)) {
      expected.push_back(recordCsvRow(JsonDocument::parse(line)));
    }
  }
  std::sort(rows.begin(), rows.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(rows, expected);
}

}  // namespace
}  // namespace voltrix

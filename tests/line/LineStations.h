#pragma once
// Stations of simulated devices and one voltrix-line on a throwaway
// PostgreSQL cluster: each station a voltrix-cli process of its own name,
// log and devices, sending to the line with a station's token; the line
// stopped and started again on the same port, as a service manager would.

#include <libpq-fe.h>

#include <map>
#include <memory>
#include <set>

#include "record/JsonText.h"
#include "tests/cli/StationFixture.h"
#include "tests/line/PgCluster_posix.h"
#include "tests/line/RunningLine_posix.h"

namespace voltrix {

class LineStations : public Station {
 protected:
  static constexpr const char* kStationToken = "station-token-0123456789";
  static constexpr const char* kViewerToken = "viewer-token-0123456789";
  static constexpr const char* kEngineerToken = "engineer-token-0123456789";

  static void SetUpTestSuite() { cluster = std::make_unique<test::PgCluster>(); }
  static void TearDownTestSuite() { cluster.reset(); }
  void SetUp() override {
    Station::SetUp();
    ASSERT_FALSE(cluster->conninfo().empty()) << cluster->startError();
    conninfo = cluster->freshDatabase();
    ASSERT_FALSE(conninfo.empty());
    test::writeFileBytes(dir.file("line-tokens"),
                         std::string("station ") + kStationToken + " stations\nviewer " +
                             kViewerToken + " quality\nengineer " + kEngineerToken + " eng\n");
    test::writeFileBytes(dir.file("station-token"), std::string(kStationToken) + "\n");
  }
  void TearDown() override { line.reset(); }

  // Starts the line, on the port of its first start when it ran before.
  void startLine(std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"--db",         conninfo,
                                     "--listen",     "127.0.0.1:" + std::to_string(port),
                                     "--token-file", dir.file("line-tokens")};
    args.insert(args.end(), more.begin(), more.end());
    line = std::make_unique<test::RunningLine>(args);
    url = line->url();
    ASSERT_FALSE(url.empty()) << line->output();
    port = std::stoi(url.substr(url.rfind(':') + 1));
  }
  void stopLine() {
    ASSERT_TRUE(line);
    EXPECT_EQ(line->stop().exitCode, 0) << line->output();
    line.reset();
  }

  // A station's command line: its devices, name, log and the line.
  std::vector<std::string> stationArgs(const std::string& name,
                                       const std::vector<std::size_t>& deviceIndexes) const {
    std::vector<std::string> args = {VOLTRIX_CLI};
    for (const std::size_t index : deviceIndexes) {
      args.push_back("--port");
      args.push_back(devices.at(index)->devicePath());
    }
    const std::vector<std::string> more = {"--station",
                                           name,
                                           "--log",
                                           logOf(name),
                                           "--line",
                                           url,
                                           "--line-token-file",
                                           dir.file("station-token")};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
  std::string logOf(const std::string& name) const { return dir.file(name + ".jsonl"); }
  std::vector<std::string> logLines(const std::string& name) const {
    return linesOf(test::readFileBytes(logOf(name)));
  }

  // The first column of every row of a query, read with libpq alone.
  std::vector<std::string> query(const std::string& sql) const {
    std::unique_ptr<PGconn, decltype(&PQfinish)> connection(PQconnectdb(conninfo.c_str()),
                                                            PQfinish);
    std::unique_ptr<PGresult, decltype(&PQclear)> result(PQexec(connection.get(), sql.c_str()),
                                                         PQclear);
    EXPECT_EQ(PQresultStatus(result.get()), PGRES_TUPLES_OK) << PQerrorMessage(connection.get());
    std::vector<std::string> values;
    for (int row = 0; row < PQntuples(result.get()); ++row) {
      values.emplace_back(PQgetvalue(result.get(), row, 0));
    }
    return values;
  }

  static std::unique_ptr<test::PgCluster> cluster;
  std::string conninfo;
  std::unique_ptr<test::RunningLine> line;
  std::string url;
  int port = 0;
};

}  // namespace voltrix

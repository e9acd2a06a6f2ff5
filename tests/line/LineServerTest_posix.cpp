// voltrix-line as it runs: a real program over a throwaway PostgreSQL
// cluster, asked over HTTP on 127.0.0.1. Records land once however often
// they come and come back out in the export; each role reaches its routes
// only; bad bodies get a clear status; a database that stops answers 503
// until it is back; a state post reaches the event stream; SIGTERM ends the
// streams and the program cleanly.

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <memory>
#include <thread>

#include "record/JsonText.h"
#include "record/RecordColumns.h"
#include "tests/line/PgCluster_posix.h"
#include "tests/line/RunningLine_posix.h"
#include "tests/support/TempDir.h"

namespace voltrix {
namespace {

constexpr char kViewer[] = "viewer-token-0123456789";
constexpr char kOperator[] = "operator-token-0123456789";
constexpr char kEngineer[] = "engineer-token-0123456789";
constexpr char kStation[] = "station-token-0123456789";
constexpr char kAdmin[] = "admin-token-0123456789";

// A record as a station's log holds it, ended at 06:MM on 2026-12-09.
std::string record(const std::string& id, int minute, int exitCode = 0) {
  char end[32];
  std::snprintf(end, sizeof end, "2026-12-09T06:%02d:00.000Z", minute);
  return jsonLine({{"id", id},
                   {"station", "line-3"},
                   {"end", end},
                   {"slot", "1-1.2"},
                   {"port", "/dev/ttyACM0"},
                   {"image", {{"path", "sysbin.bin"}, {"sha256", std::string(64, 'a')}}},
                   {"exit_code", exitCode},
                   {"result", exitCode == 0 ? "verified" : "failed: the device is silent"}});
}

class LineServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { cluster = std::make_unique<test::PgCluster>(); }
  static void TearDownTestSuite() { cluster.reset(); }
  void SetUp() override {
    ASSERT_FALSE(cluster->conninfo().empty()) << cluster->startError();
    conninfo = cluster->freshDatabase();
    ASSERT_FALSE(conninfo.empty());
    test::writeFileBytes(dir.file("tokens"), std::string("viewer ") + kViewer + " eve\n" +
                                                 "operator " + kOperator + "\n" + "engineer " +
                                                 kEngineer + "\n" + "station " + kStation +
                                                 " line-3\n" + "admin " + kAdmin + "\n");
  }
  void start(std::vector<std::string> more = {}) {
    std::vector<std::string> options{"--db",        conninfo,       "--listen",
                                     "127.0.0.1:0", "--token-file", dir.file("tokens")};
    options.insert(options.end(), more.begin(), more.end());
    line = std::make_unique<test::RunningLine>(options);
    url = line->url();
    ASSERT_FALSE(url.empty()) << line->output();
    EXPECT_NE(line->output().find("database test_"), std::string::npos) << line->output();
  }
  httplib::Headers as(const char* token) {
    return token ? httplib::Headers{{"Authorization", std::string("Bearer ") + token}}
                 : httplib::Headers{};
  }
  httplib::Result post(const std::string& path, const std::string& body,
                       const char* token = kStation) {
    httplib::Client client(url);
    client.set_read_timeout(30);
    return client.Post(path.c_str(), as(token), body, "application/x-ndjson");
  }
  httplib::Result get(const std::string& path, const char* token = kViewer) {
    httplib::Client client(url);
    client.set_read_timeout(30);
    return client.Get(path.c_str(), as(token));
  }
  JsonDocument postedCounts(const std::string& body) {
    const auto answer = post("/api/records", body);
    EXPECT_TRUE(answer && answer->status == 200) << (answer ? answer->body : "no answer");
    return answer ? JsonDocument::parse(answer->body, nullptr, false) : JsonDocument();
  }

  static std::unique_ptr<test::PgCluster> cluster;
  test::TempDir dir;
  std::string conninfo, url;
  std::unique_ptr<test::RunningLine> line;
};

std::unique_ptr<test::PgCluster> LineServerTest::cluster;

TEST_F(LineServerTest, RecordsLandOnceAndTheExportHoldsThemInTheirRange) {
  start();
  const std::vector<std::string> records{record("r1", 10), record("r2", 20, 9), record("r3", 30)};
  const std::string body = records[0] + "\n" + records[1] + "\n" + records[2] + "\n";
  EXPECT_EQ(postedCounts(body), JsonDocument::parse(R"({"added":3,"known":0,"notRecords":0})"));
  EXPECT_EQ(postedCounts(body), JsonDocument::parse(R"({"added":0,"known":3,"notRecords":0})"));

  const auto csv = get("/api/export?format=csv");
  ASSERT_TRUE(csv && csv->status == 200);
  EXPECT_NE(csv->get_header_value("Content-Disposition").find("attachment"), std::string::npos);
  std::string expected = recordCsvHeader() + "\n";
  for (const auto& line : records) expected += recordCsvRow(JsonDocument::parse(line)) + "\n";
  EXPECT_EQ(csv->body, expected);

  const auto range = get("/api/export?format=jsonl&from=2026-12-09T06:15Z&to=2026-12-09T06:30:00Z");
  ASSERT_TRUE(range && range->status == 200);
  EXPECT_EQ(range->body, records[1] + "\n");

  const auto runs = get("/api/runs?limit=2");
  ASSERT_TRUE(runs && runs->status == 200);
  const JsonDocument newest = JsonDocument::parse(runs->body);
  ASSERT_EQ(newest.size(), 2u);
  EXPECT_EQ(newest[0]["id"], "r3");
  const auto failures = get("/api/failures");
  ASSERT_TRUE(failures && failures->status == 200);
  const JsonDocument failed = JsonDocument::parse(failures->body);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0]["result"], "failed: the device is silent");
  EXPECT_EQ(failed[0]["station"], "line-3");
}

TEST_F(LineServerTest, EachRoleReachesItsRoutesOnly) {
  start();
  struct Case {
    const char* token;
    bool posting;
    const char* path;
    int status;
  } const cases[] = {
      {nullptr, false, "/api/stations", 401},
      {"not-a-known-token-at-all", false, "/api/stations", 401},
      {nullptr, true, "/api/records", 401},
      {kViewer, true, "/api/records", 403},
      {kOperator, true, "/api/records", 403},
      {kEngineer, true, "/api/stations/state", 403},
      {kStation, true, "/api/records", 200},
      {kAdmin, true, "/api/records", 200},
      {kStation, false, "/api/export?format=csv", 403},
      {kStation, false, "/metrics", 403},
      {kStation, false, "/api/stations", 403},
      {kViewer, false, "/api/export?format=csv", 200},
      {kOperator, false, "/api/yield", 200},
      {kEngineer, false, "/metrics", 200},
      {kAdmin, false, "/api/failures", 200},
      {nullptr, false, "/", 200},
  };
  for (const Case& c : cases) {
    const auto answer = c.posting ? post(c.path, record("role", 1), c.token) : get(c.path, c.token);
    ASSERT_TRUE(answer) << c.path;
    EXPECT_EQ(answer->status, c.status) << (c.token ? c.token : "no token") << " " << c.path;
  }
}

TEST_F(LineServerTest, BadRequestsGetAClearStatus) {
  start();
  std::string manyLines;
  for (int i = 0; i < 1001; ++i) manyLines += record("many" + std::to_string(i), 1) + "\n";
  const std::string huge(8 * 1024 * 1024 + 1, 'x');
  const std::string bigState = R"({"station":"line-3","pad":")" + std::string(1 << 20, 'x') + "\"}";
  struct Case {
    const char* path;
    std::string body;  // empty: a GET
    int status;
  } const cases[] = {
      {"/api/records", "\n", 400},
      {"/api/records", manyLines, 413},
      {"/api/records", huge, 413},
      {"/api/stations/state", "{not json", 400},
      {"/api/stations/state", R"({"slots":[]})", 400},
      {"/api/stations/state", bigState, 413},
      {"/api/export?format=xml", "", 400},
      {"/api/export?from=yesterday", "", 400},
      {"/api/export?to=2026-02-31", "", 400},
      {"/api/runs?limit=0", "", 400},
      {"/api/runs?since=06:00", "", 400},
      {"/api/nothing", "", 404},
  };
  for (const Case& c : cases) {
    const auto answer = c.body.empty() ? get(c.path, kAdmin) : post(c.path, c.body, kAdmin);
    ASSERT_TRUE(answer) << c.path;
    EXPECT_EQ(answer->status, c.status) << c.path << ": " << answer->body;
    EXPECT_NE(answer->body.find("\"error\""), std::string::npos) << c.path;
  }
  // A line that is no record is counted, not stored; the rest are.
  EXPECT_EQ(postedCounts("garbage\n" + record("ok", 2)),
            JsonDocument::parse(R"({"added":1,"known":0,"notRecords":1})"));
}

TEST_F(LineServerTest, ADatabaseThatStopsIsAnsweredWith503UntilItIsBack) {
  start();
  EXPECT_EQ(postedCounts(record("before", 1))["added"], 1);
  ASSERT_TRUE(cluster->stopServer());
  const auto refused = post("/api/records", record("during", 2));
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 503);
  EXPECT_NE(refused->body.find("database: cannot connect"), std::string::npos) << refused->body;
  ASSERT_TRUE(cluster->startServer());
  // The line tries a new connection at most once a second.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  auto taken = post("/api/records", record("during", 2));
  while (taken && taken->status == 503 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // polling, not settling
    taken = post("/api/records", record("during", 2));
  }
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->status, 200) << taken->body;
  EXPECT_EQ(JsonDocument::parse(taken->body)["added"], 1);
  const auto metrics = get("/metrics");
  ASSERT_TRUE(metrics);
  EXPECT_EQ(metrics->body.find("voltrix_line_database_failures_total 0"), std::string::npos);
}

TEST_F(LineServerTest, AStatePostReachesTheEventStreamAndTheStopEndsIt) {
  start();
  std::string events;
  std::thread reader([&] {
    httplib::Client client(url);
    client.set_read_timeout(60);
    // From the first event on, so that a post made before the stream was
    // open is in it too; the token as a browser's EventSource gives it.
    client.Get((std::string("/api/events?after=0&token=") + kViewer).c_str(),
               [&](const char* data, std::size_t length) {
                 events.append(data, length);
                 return true;
               });
  });
  const std::string state =
      R"({"station":"line-3","version":"1.2.0","t":1,"outbox":{"records":0},"slots":[]})";
  const auto posted = post("/api/stations/state", state);
  ASSERT_TRUE(posted);
  EXPECT_EQ(posted->status, 204);
  EXPECT_EQ(postedCounts(record("evented", 3))["added"], 1);
  const auto stations = get("/api/stations");
  ASSERT_TRUE(stations);
  const JsonDocument board = JsonDocument::parse(stations->body);
  ASSERT_EQ(board["stations"].size(), 1u);
  EXPECT_EQ(board["stations"][0]["station"], "line-3");
  EXPECT_EQ(board["stations"][0]["away"], false);

  // The stream ends once the line stops: everything sent is then in it.
  const test::ProcessResult ended = line->stop();
  reader.join();
  EXPECT_EQ(ended.exitCode, 0) << ended.out;
  EXPECT_NE(ended.out.find("voltrix-line: stopped serving"), std::string::npos) << ended.out;
  EXPECT_NE(events.find("event: station\ndata: {\"station\":\"line-3\""), std::string::npos)
      << events;
  EXPECT_NE(events.find(R"(event: runs
data: {"station":"line-3","added":1,"known":0,"notRecords":0})"),
            std::string::npos)
      << events;
}

TEST_F(LineServerTest, FiftyStationsPostWhileTwentyBrowsersFollow) {
  start();
  constexpr int kStations = 50, kBrowsers = 20;
  std::atomic<int> streaming{0};
  std::vector<std::thread> browsers;
  for (int i = 0; i < kBrowsers; ++i) {
    browsers.emplace_back([&] {
      httplib::Client client(url);
      client.set_read_timeout(60);
      bool counted = false;
      client.Get("/api/events?after=0", as(kViewer), [&](const char*, std::size_t) {
        if (!counted) ++streaming;
        counted = true;
        return true;
      });
    });
  }
  std::atomic<int> answered{0};
  std::vector<std::thread> stations;
  for (int i = 0; i < kStations; ++i) {
    stations.emplace_back([&, i] {
      const std::string name = "station-" + std::to_string(i);
      std::string records;
      for (int r = 0; r < 20; ++r) records += record(name + "-" + std::to_string(r), r) + "\n";
      const auto state = post("/api/stations/state", R"({"station":")" + name + R"("})");
      const auto taken = post("/api/records", records);
      if (state && state->status == 204 && taken && taken->status == 200) ++answered;
    });
  }
  for (std::thread& station : stations) station.join();
  EXPECT_EQ(answered, kStations);
  const auto board = get("/api/stations");
  ASSERT_TRUE(board);
  EXPECT_EQ(JsonDocument::parse(board->body)["stations"].size(), std::size_t{kStations});
  EXPECT_EQ(line->stop().exitCode, 0);  // ends every stream
  for (std::thread& browser : browsers) browser.join();
  EXPECT_EQ(streaming, kBrowsers);
}

TEST_F(LineServerTest, AStartThatCannotServeSaysWhyWithItsExitStatus) {
  const std::string tokens = dir.file("tokens");
  const std::string away = "host=127.0.0.1 port=1 user=voltrix dbname=none connect_timeout=5";
  struct Case {
    std::vector<std::string> options;
    int status;
    const char* says;
  } const cases[] = {
      {{"--db", conninfo, "--listen", "0.0.0.0:0"}, 2, "give --token-file FILE"},
      {{"--db", conninfo, "--listen", "localhost"}, 2, "--listen wants ADDR:PORT"},
      {{"--db", conninfo, "--listen", "127.0.0.1:0", "--cert", tokens}, 2, "go together"},
      {{"--db", conninfo, "--listen", "127.0.0.1:0", "--token-file", dir.file("none")},
       2,
       "cannot be read"},
      {{"--listen", "127.0.0.1:0"}, 2, "--db CONNINFO is needed"},
      {{"--db", away, "--listen", "127.0.0.1:0"}, 3, "database: cannot connect"},
      {{"--db", conninfo + " password=wrong", "--listen", "127.0.0.1:0"},
       4,
       "database: login refused"},
      {{"--db", conninfo, "--listen", "127.0.0.1:0", "--cert", tokens, "--cert-key", tokens},
       6,
       "cannot use the certificate"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv{VOLTRIX_LINE_PROGRAM};
    argv.insert(argv.end(), c.options.begin(), c.options.end());
    const test::ProcessResult result = test::runProcess(argv);
    EXPECT_EQ(result.exitCode, c.status) << result.out;
    EXPECT_NE(result.out.find(c.says), std::string::npos) << result.out;
  }
}

TEST_F(LineServerTest, ACertificateServesHttps) {
  const test::ProcessResult made = test::runProcess(
      {"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
       "/CN=127.0.0.1", "-keyout", dir.file("key.pem"), "-out", dir.file("cert.pem")});
  ASSERT_EQ(made.exitCode, 0) << made.out;
  start({"--cert", dir.file("cert.pem"), "--cert-key", dir.file("key.pem")});
  ASSERT_EQ(url.rfind("https://", 0), 0u) << url;
  httplib::SSLClient client("127.0.0.1", std::stoi(url.substr(url.rfind(':') + 1)));
  client.set_ca_cert_path(dir.file("cert.pem").c_str());
  client.enable_server_certificate_verification(true);
  const auto answer = client.Get("/api/stations", as(kViewer));
  ASSERT_TRUE(answer) << httplib::to_string(answer.error());
  EXPECT_EQ(answer->status, 200);
}

}  // namespace
}  // namespace voltrix

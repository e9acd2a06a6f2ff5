// voltrix-cli --serve as a station PC runs it: a child process watching a
// simulated device, read and stopped over HTTP; and the command lines it
// refuses before it serves anything.

#include <signal.h>
#include <sys/stat.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <functional>

#include "record/JsonText.h"
#include "record/ResultsDb.h"
#include "tests/cli/CliFixture_posix.h"
#include "tests/service/ServiceRig_posix.h"

namespace voltrix {
namespace {

using namespace std::chrono_literals;

class ServedCli : public CliDownload {
 protected:
  // Runs `voltrix-cli --watch --serve 127.0.0.1:0 ARGS` and, once it
  // serves, `ask` with a client of it on a thread of its own.
  test::ProcessResult serveAndAsk(std::vector<std::string> args,
                                  const std::function<void(httplib::Client&)>& ask) {
    std::thread asking;
    const auto onOutput = [&](pid_t, const std::string& output) {
      // std::regex would do, but GCC warns about its code in the sanitizer build.
      static const std::string kServing = "serving the station on http://127.0.0.1:";
      const auto at = output.find(kServing);
      if (asking.joinable() || at == std::string::npos) return;
      char* end = nullptr;
      const long port = std::strtol(output.c_str() + at + kServing.size(), &end, 10);
      if (*end != '/') return;  // not all of it yet
      asking = std::thread([&, port] {
        httplib::Client client("127.0.0.1", static_cast<int>(port));
        ask(client);
      });
    };
    args.insert(args.begin(), {VOLTRIX_CLI, "--watch", "--serve", "127.0.0.1:0"});
    test::ProcessResult result = runProcess(args, environment(), 60s, onOutput);
    EXPECT_TRUE(asking.joinable()) << result.out;
    if (asking.joinable()) asking.join();
    return result;
  }
};

// The runs served once `count` of them are there.
JsonDocument runsOnceThere(httplib::Client& client, std::size_t count) {
  JsonDocument runs = JsonDocument::array();
  test::eventually([&] {
    auto answer = client.Get("/api/runs", test::bearer(test::kOperatorToken));
    if (answer && answer->status == 200) runs = JsonDocument::parse(answer->body);
    return runs.size() == count;
  });
  return runs;
}

int post(httplib::Client& client, const char* path, const std::string& token) {
  auto answer = client.Post(path, test::bearer(token), "", "text/plain");
  return answer ? answer->status : -1;
}

TEST_F(ServedCli, ServedStationIsReadAndStoppedOverHttp) {
  startDevice();
  test::writeFileBytes(dir.file("tokens"), std::string("operator ") + test::kOperatorToken + "\n");
  JsonDocument runs;
  std::string metrics;
  int stopStatus = 0;
  // Once the device is verified, its run is served, and the station is
  // stopped.
  const test::ProcessResult result =
      serveAndAsk({"--token-file", dir.file("tokens"), "--log", dir.file("station.jsonl")},
                  [&](httplib::Client& client) {
                    runs = runsOnceThere(client, 1);
                    if (auto answer = client.Get("/metrics", test::bearer(test::kOperatorToken)))
                      metrics = answer->body;
                    stopStatus = post(client, "/api/stop", test::kOperatorToken);
                  });
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_EQ(stopStatus, 202);
  ASSERT_EQ(runs.size(), 1u) << result.out;
  std::ifstream log(dir.file("station.jsonl"));
  std::string line;
  ASSERT_TRUE(std::getline(log, line));
  const JsonDocument record = JsonDocument::parse(line);
  EXPECT_EQ(runs[0], record);
  // The metrics count what the log holds.
  for (const std::string& count :
       {std::string("voltrix_runs_total{result=\"verified\"} 1\n"),
        std::string("voltrix_runs_total{result=\"failed\"} 0\n"),
        "voltrix_bytes_written_total " + std::to_string(record["bytes"].get<int>()) + "\n"}) {
    EXPECT_TRUE(contains(metrics, count)) << count << metrics;
  }
  expectDeviceHoldsImage();
}

TEST_F(ServedCli, ServedRunsAndControlRequestsAreKeptInTheDatabase) {
  startDevice();
  const std::string db = dir.file("results.db");
  test::writeFileBytes(dir.file("tokens"), std::string("viewer ") + test::kViewerToken +
                                               "\noperator " + test::kOperatorToken + " alice\n");
  const std::vector<std::string> args = {"--token-file", dir.file("tokens"), "--db", db};
  JsonDocument firstRuns;
  auto result = serveAndAsk(args, [&](httplib::Client& client) {
    firstRuns = runsOnceThere(client, 1);
    EXPECT_EQ(post(client, "/api/pause", test::kViewerToken), 403);
    EXPECT_EQ(post(client, "/api/stop", test::kOperatorToken), 202);
  });
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_TRUE(contains(result.out, "stop asked by alice (operator) from 127.0.0.1: accepted"))
      << result.out;
  ASSERT_EQ(firstRuns.size(), 1u);

  // The next start, with the device gone, serves the runs of the one
  // before from the database.
  device.reset();
  ::unlink(dir.file("dosdevices/COM7").c_str());
  JsonDocument laterRuns, byId;
  result = serveAndAsk(args, [&](httplib::Client& client) {
    laterRuns = runsOnceThere(client, 1);
    const std::string id = firstRuns[0]["id"];
    if (auto answer = client.Get("/api/runs/" + id, test::bearer(test::kOperatorToken)))
      byId = JsonDocument::parse(answer->body);
    post(client, "/api/stop", test::kOperatorToken);
  });
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_EQ(laterRuns, firstRuns);
  EXPECT_EQ(byId, firstRuns[0]);

  ResultsDbError error;
  ResultsDb::Options readOnly;
  readOnly.readOnly = true;
  const auto stored = ResultsDb::open(db, readOnly, error);
  ASSERT_TRUE(stored) << error.text;
  const auto audit = stored->controlAudit(error);
  ASSERT_EQ(audit.size(), 3u) << error.text;
  const std::string seen[][4] = {
      {"viewer", "token on line 1", "pause", "refused 403: a viewer may not control the station"},
      {"operator", "alice", "stop", "accepted"},
      {"operator", "alice", "stop", "accepted"},
  };
  for (std::size_t i = 0; i < audit.size(); ++i) {
    EXPECT_EQ((std::array{audit[i].role, audit[i].who, audit[i].action, audit[i].result}),
              (std::array{seen[i][0], seen[i][1], seen[i][2], seen[i][3]}));
    EXPECT_EQ(audit[i].remoteAddress, "127.0.0.1");
    EXPECT_EQ(audit[i].at.size(), firstRuns[0]["end"].get<std::string>().size()) << audit[i].at;
  }
}

TEST_F(ServedCli, ADatabaseBehindShowsOnTheDashboardAndFlashingGoesOn) {
  startDevice();
  // A folder where the database should be: it can never be opened.
  ASSERT_EQ(::mkdir(dir.file("results.db").c_str(), 0700), 0);
  test::writeFileBytes(dir.file("tokens"), std::string("operator ") + test::kOperatorToken + "\n");
  JsonDocument counts, runs;
  const auto result = serveAndAsk(
      {"--db", dir.file("results.db"), "--log", dir.file("station.jsonl"), "--token-file",
       dir.file("tokens")},
      [&](httplib::Client& client) {
        runs = runsOnceThere(client, 1);
        test::eventually([&] {
          if (auto answer = client.Get("/api/slots", test::bearer(test::kOperatorToken)))
            counts = JsonDocument::parse(answer->body)["counts"];
          return counts["database"].is_string();
        });
        post(client, "/api/stop", test::kOperatorToken);
      });
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_EQ(runs.size(), 1u) << result.out;
  EXPECT_TRUE(counts["database"].is_string() &&
              contains(counts["database"].get<std::string>(), "database behind: "))
      << counts.dump();
  expectDeviceHoldsImage();
}

// systemd stops a service with SIGTERM: a served station lets the device
// being flashed finish, and only a second request cancels it.
TEST_F(ServedCli, ARequestToEndDrainsAndASecondOneCancels) {
  records = {{0, 0x4000, {}, {}, {}}};
  records[0].data.assign(4096, 0x5a);
  ASSERT_TRUE(writeImageFile(dir.file("sysbin.bin"), buildImage(records)));
  struct Case {
    int requests, exitCode;
    const char* result;
  };
  for (const Case& row : {Case{1, 0, "verified"}, Case{2, 11, "cancelled"}}) {
    SCOPED_TRACE(row.requests);
    sim::SimConfig paced;
    paced.paced = true;
    device.reset();
    ::unlink(dir.file("dosdevices/COM7").c_str());
    ::unlink(dir.file("station.jsonl").c_str());
    startDevice(paced);
    int sent = 0;
    const auto result = runProcess(
        {VOLTRIX_CLI, "--watch", "--serve", "127.0.0.1:0", "--log", dir.file("station.jsonl")},
        environment(), 60s, [&](pid_t child, const std::string& out) {
          // Signals of one kind do not queue: the second goes once the
          // first has been seen.
          const bool due =
              sent == 0 ? contains(out, "Connect successfully!") : contains(out, "draining: ");
          if (sent < row.requests && due) {
            ::kill(child, SIGTERM);
            ++sent;
          }
        });
    EXPECT_EQ(sent, row.requests) << result.out;
    EXPECT_EQ(result.exitCode, row.exitCode) << result.out;
    EXPECT_TRUE(contains(result.out, "draining: the devices being flashed finish")) << result.out;
    std::ifstream log(dir.file("station.jsonl"));
    std::string line;
    ASSERT_TRUE(std::getline(log, line)) << result.out;
    EXPECT_TRUE(contains(JsonDocument::parse(line)["result"].get<std::string>(), row.result))
        << line;
    if (row.exitCode == 0) expectDeviceHoldsImage();
  }
}

TEST_F(CliDownload, ServeRefusesWhatItMayNotDo) {
  test::writeFileBytes(dir.file("bad-tokens"), "root secret\n");
  struct Case {
    std::vector<std::string> args;
    const char* text;
  };
  const Case cases[] = {
      {{"--watch", "--serve", "0.0.0.0:0"}, "can be reached from other machines"},
      {{"--watch", "--serve", "127.0.0.1"}, "--serve wants ADDR:PORT"},
      {{"--port", "/dev/null", "--serve", "127.0.0.1:0"}, "--serve needs several devices"},
      {{"--watch", "--token-file", dir.file("tokens")}, "it needs --serve"},
      {{"--watch", "--serve", "127.0.0.1:0", "--token-file", dir.file("none")}, "cannot be read"},
      {{"--watch", "--serve", "127.0.0.1:0", "--token-file", dir.file("bad-tokens")},
       "line 1: the role is viewer or operator"},
  };
  for (const Case& row : cases) {
    const test::ProcessResult result = cli(row.args, 20s);
    EXPECT_EQ(result.exitCode, 2) << row.text << ": " << result.out;
    EXPECT_TRUE(contains(result.out, row.text)) << result.out;
  }
}

}  // namespace
}  // namespace voltrix

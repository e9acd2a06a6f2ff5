// voltrix-cli --serve as a station PC runs it: a child process watching a
// simulated device, read and stopped over HTTP; and the command lines it
// refuses before it serves anything.

#include <fstream>
#include <regex>

#include "record/JsonText.h"
#include "tests/cli/CliFixture_posix.h"
#include "tests/service/ServiceRig_posix.h"

namespace voltrix {
namespace {

using namespace std::chrono_literals;

TEST_F(CliDownload, ServedStationIsReadAndStoppedOverHttp) {
  startDevice();
  test::writeFileBytes(dir.file("tokens"), std::string("operator ") + test::kOperatorToken + "\n");
  std::thread asking;
  JsonDocument runs;
  int stopStatus = 0;
  const auto onOutput = [&](pid_t, const std::string& output) {
    static const std::regex kServing("serving the station on http://127\\.0\\.0\\.1:([0-9]+)/");
    std::smatch found;
    if (asking.joinable() || !std::regex_search(output, found, kServing)) return;
    asking = std::thread([&, port = std::stoi(found[1])] {
      httplib::Client client("127.0.0.1", port);
      const auto headers = test::bearer(test::kOperatorToken);
      // Once the device is verified, its run is served, and the station is
      // stopped.
      test::eventually([&] {
        auto answer = client.Get("/api/runs", headers);
        if (answer && answer->status == 200) runs = JsonDocument::parse(answer->body);
        return runs.size() == 1;
      });
      if (auto stop = client.Post("/api/stop", headers, "", "text/plain"))
        stopStatus = stop->status;
    });
  };
  const test::ProcessResult result =
      runProcess({VOLTRIX_CLI, "--watch", "--serve", "127.0.0.1:0", "--token-file",
                  dir.file("tokens"), "--log", dir.file("station.jsonl")},
                 environment(), 60s, onOutput);
  ASSERT_TRUE(asking.joinable()) << result.out;
  asking.join();
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_EQ(stopStatus, 202);
  ASSERT_EQ(runs.size(), 1u) << result.out;
  std::ifstream log(dir.file("station.jsonl"));
  std::string line;
  ASSERT_TRUE(std::getline(log, line));
  EXPECT_EQ(runs[0], JsonDocument::parse(line));
  expectDeviceHoldsImage();
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

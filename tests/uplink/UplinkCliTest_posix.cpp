// voltrix-cli --line end to end: a station on simulated devices sends its
// log's records and its state to a stand-in line that is up, down, stopped
// mid-run, refuses the token or takes batches only so large; and a station
// killed between the log's write and the post.

#include <signal.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include "record/JsonText.h"
#include "tests/cli/StationFixture.h"
#include "tests/uplink/StandInLine.h"

namespace voltrix {
namespace {

using namespace std::chrono_literals;

constexpr char kToken[] = "s3cret-station";

// Waits until `ready` holds, at most `limit`.
template <class Ready>
bool eventually(Ready ready, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

class LineStation : public Station {
 protected:
  void SetUp() override {
    Station::SetUp();
    test::writeFileBytes(dir.file("token"), std::string("# the station's token\n") + kToken + "\n");
    ASSERT_TRUE(line.start());
  }
  std::vector<std::string> lineArgs(const std::string& tokenFile = {}) const {
    return {
        "--log",    dir.file("station.jsonl"), "--line",
        line.url(), "--line-token-file",       tokenFile.empty() ? dir.file("token") : tokenFile};
  }
  test::ProcessResult flashAll(const std::string& tokenFile = {}) {
    std::vector<std::string> args = lineArgs(tokenFile);
    args.insert(args.begin(), "--all");
    return cli(args);
  }
  std::set<std::string> logIds() const {
    std::set<std::string> ids;
    for (const std::string& line : logRecords()) {
      const JsonDocument record = JsonDocument::parse(line, nullptr, false);
      if (record.is_object()) ids.insert(record["id"].get<std::string>());
    }
    return ids;
  }
  // Every record of the log is on the line, each posted once.
  void expectEachRecordPostedOnce() const {
    std::map<std::string, int> once;
    for (const std::string& id : logIds()) once[id] = 1;
    EXPECT_EQ(line.posted(), once);
  }
  // Appends copies of the log's first record under new ids.
  void addRecordsToLog(int count) {
    JsonDocument record = JsonDocument::parse(logRecords().front());
    std::string text = test::readFileBytes(dir.file("station.jsonl"));
    for (int i = 0; i < count; ++i) {
      record["id"] = "0000000" + std::to_string(i) + record["id"].get<std::string>().substr(8);
      text += jsonLine(record) + "\n";
    }
    test::writeFileBytes(dir.file("station.jsonl"), text);
  }
  static std::size_t occurrences(const std::string& out, const std::string& text) {
    std::size_t count = 0;
    for (auto at = out.find(text); at != std::string::npos; at = out.find(text, at + 1)) ++count;
    return count;
  }

  test::StandInLine line{kToken};
};

TEST_F(LineStation, EveryRecordArrivesOnceWithTheStationsState) {
  addDevice();
  addDevice();
  auto result = flashAll();
  ASSERT_EQ(result.exitCode, 0) << result.out;
  EXPECT_EQ(logIds().size(), 2u);
  expectEachRecordPostedOnce();
  EXPECT_FALSE(contains(result.out, "line:")) << result.out;
  const JsonDocument state = line.lastState();
  ASSERT_TRUE(state.is_object()) << result.out;
  EXPECT_TRUE(state["station"].is_string());
  EXPECT_EQ(state["image"]["name"], "sysbin.bin");
  EXPECT_EQ(state["slots"].size(), 2u);
  EXPECT_EQ(state["counts"]["verified"], 2);
  EXPECT_EQ(state["outbox"]["records"], 0);
  EXPECT_TRUE(state["outbox"]["lastError"].is_null());
  // The next start sends its own records, not the earlier ones again.
  result = flashAll();
  ASSERT_EQ(result.exitCode, 0) << result.out;
  EXPECT_EQ(logIds().size(), 4u);
  expectEachRecordPostedOnce();
}

TEST_F(LineStation, ALineDownForTheWholeRunGetsTheRecordsAtTheNextStart) {
  for (const bool stopped : {true, false}) {
    SCOPED_TRACE(stopped ? "stopped" : "answering 503");
    if (stopped) line.stop();
    line.setUnavailable(!stopped);
    if (devices.empty()) addDevice();
    auto result = flashAll();
    EXPECT_EQ(result.exitCode, 0) << result.out;
    EXPECT_TRUE(holdsImage(*devices.front()));
    EXPECT_TRUE(contains(result.out, "voltrix-cli: line: " + line.url() + " cannot be reached ("))
        << result.out;
    EXPECT_TRUE(contains(result.out, stopped ? "no connection" : "503: database: connection"))
        << result.out;
    EXPECT_TRUE(contains(
        result.out,
        "voltrix-cli: line: " + std::to_string(logIds().size() - line.posted().size()) + " record"))
        << result.out;
    EXPECT_TRUE(contains(result.out, "in the outbox; they are sent at the next start"))
        << result.out;

    if (stopped) {
      ASSERT_TRUE(line.start());
    }
    line.setUnavailable(false);
    result = flashAll();
    EXPECT_EQ(result.exitCode, 0) << result.out;
    expectEachRecordPostedOnce();
    EXPECT_FALSE(contains(result.out, "outbox")) << result.out;
  }
}

TEST_F(LineStation, ALineStoppedMidRunAndStartedAgainGetsEveryRecordOnce) {
  addDevice();
  std::mutex mutex;
  std::string output;
  const auto said = [&](const std::string& text) {
    const std::lock_guard lock(mutex);
    return contains(output, text);
  };
  std::atomic<pid_t> pid{0};
  std::thread driver([&] {
    // The first record arrives; the line stops; a second device is
    // flashed meanwhile; the line comes back and takes it.
    EXPECT_TRUE(eventually([&] { return line.posted().size() == 1; }, 30s));
    line.stop();
    addDevice();
    EXPECT_TRUE(eventually([&] { return said("cannot be reached"); }, 30s));
    EXPECT_TRUE(line.start());
    EXPECT_TRUE(eventually([&] { return line.posted().size() == 2; }, 30s));
    EXPECT_TRUE(eventually([&] { return said("takes the records again"); }, 10s));
    if (pid > 0) ::kill(pid, SIGTERM);
  });
  std::vector<std::string> args = lineArgs();
  args.insert(args.begin(), {VOLTRIX_CLI, "--watch"});
  test::ChildStreams streams;
  streams.pid = &pid;
  const auto result = runProcess(
      args, environment(), 90s,
      [&](pid_t, const std::string& out) {
        const std::lock_guard lock(mutex);
        output = out;
      },
      streams);
  driver.join();
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_EQ(logIds().size(), 2u);
  expectEachRecordPostedOnce();
  EXPECT_EQ(occurrences(result.out, "cannot be reached"), 1u) << result.out;
}

TEST_F(LineStation, AStationKilledBeforeItsPostSendsTheRecordAtTheRestart) {
  addDevice();
  line.stop();
  std::vector<std::string> args = lineArgs();
  args.insert(args.begin(), {VOLTRIX_CLI, "--watch"});
  bool killed = false;
  const auto result = runProcess(args, environment(), 60s, [&](pid_t child, const std::string&) {
    if (!killed && logRecords().size() == 1) killed = ::kill(child, SIGKILL) == 0;
  });
  ASSERT_TRUE(killed) << result.out;
  EXPECT_TRUE(line.posted().empty());
  ASSERT_TRUE(line.start());
  const auto restarted = flashAll();
  EXPECT_EQ(restarted.exitCode, 0) << restarted.out;
  EXPECT_EQ(logIds().size(), 2u);
  expectEachRecordPostedOnce();
}

TEST_F(LineStation, AWrongTokenIsToldOnceAndTheRecordsWait) {
  addDevice();
  test::writeFileBytes(dir.file("wrong"), "not-the-token\n");
  auto result = flashAll(dir.file("wrong"));
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_EQ(occurrences(result.out, "refused: token (401: unknown token)"), 1u) << result.out;
  EXPECT_TRUE(contains(result.out, "line: 1 record waits in the outbox; they are sent at the next"))
      << result.out;
  EXPECT_TRUE(line.posted().empty());
  result = flashAll();
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_EQ(logIds().size(), 2u);
  expectEachRecordPostedOnce();
}

// A batch the line finds too large is halved down to what it takes, and
// grown back with each batch taken.
TEST_F(LineStation, BatchesTheLineFindsTooLargeAreHalved) {
  line.stop();
  addDevice();
  flashAll();
  addRecordsToLog(3);
  ASSERT_TRUE(line.start());
  line.setMostLines(1);
  const auto before = line.batchSizes().size();
  const auto result = flashAll();
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_EQ(logIds().size(), 5u);
  for (const std::string& id : logIds()) EXPECT_EQ(line.posted()[id], 1) << id;
  const std::vector<std::size_t> sizes = line.batchSizes();
  ASSERT_GE(sizes.size(), before + 3);
  EXPECT_EQ(std::vector<std::size_t>(sizes.begin() + before, sizes.begin() + before + 3),
            (std::vector<std::size_t>{4, 2, 1}));
}

// A server that calls every record bad (400), as one that is no line would,
// gets none of them passed over: they wait in the outbox, the first one it
// refuses is told once, and all reach the line once it takes them.
TEST_F(LineStation, RecordsTheLineCallsBadWaitInTheOutbox) {
  line.stop();
  addDevice();
  flashAll();
  addRecordsToLog(2);
  ASSERT_TRUE(line.start());
  line.setRefusingAll(true);
  auto result = flashAll();
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_TRUE(line.posted().empty());
  EXPECT_EQ(occurrences(result.out, "refuses the record "), 1u) << result.out;
  EXPECT_EQ(occurrences(result.out, "4 records wait in the outbox"), 1u) << result.out;

  line.setRefusingAll(false);
  result = flashAll();
  EXPECT_EQ(logIds().size(), 5u);
  for (const std::string& id : logIds()) EXPECT_EQ(line.posted()[id], 1) << id;
}

// A served station shows on its dashboard what waits for the line, and the
// line gets its live state while it runs.
TEST_F(LineStation, TheDashboardShowsWhatWaitsForTheLine) {
  addDevice();
  line.stop();
  const std::string operatorToken = "operator-token-0123456789";
  test::writeFileBytes(dir.file("tokens"), "operator " + operatorToken + "\n");
  const httplib::Headers auth = {{"Authorization", "Bearer " + operatorToken}};
  JsonDocument waiting, sent, state;
  std::thread asking;
  const auto onOutput = [&](pid_t, const std::string& output) {
    static const std::string kServing = "serving the station on http://127.0.0.1:";
    const auto at = output.find(kServing);
    if (asking.joinable() || at == std::string::npos) return;
    char* end = nullptr;
    const long port = std::strtol(output.c_str() + at + kServing.size(), &end, 10);
    if (*end != '/') return;
    asking = std::thread([&, port] {
      httplib::Client client("127.0.0.1", static_cast<int>(port));
      const auto lineShown = [&](JsonDocument& into, auto holds) {
        return eventually(
            [&] {
              auto answer = client.Get("/api/slots", auth);
              if (answer && answer->status == 200) into = JsonDocument::parse(answer->body)["line"];
              return into.is_object() && holds(into);
            },
            30s);
      };
      lineShown(waiting, [](const JsonDocument& shown) { return shown["records"] == 1; });
      EXPECT_TRUE(line.start());
      lineShown(sent, [](const JsonDocument& shown) { return shown["records"] == 0; });
      eventually(
          [&] {
            state = line.lastState();
            return state.is_object() && state["outbox"]["records"] == 0;
          },
          30s);
      client.Post("/api/stop", auth, "", "text/plain");
    });
  };
  std::vector<std::string> args = lineArgs();
  args.insert(args.begin(), {VOLTRIX_CLI, "--watch", "--serve", "127.0.0.1:0", "--token-file",
                             dir.file("tokens")});
  const auto result = runProcess(args, environment(), 90s, onOutput);
  ASSERT_TRUE(asking.joinable()) << result.out;
  asking.join();
  EXPECT_EQ(result.exitCode, 0) << result.out;
  EXPECT_EQ(waiting["url"], line.url());
  EXPECT_EQ(waiting["records"], 1) << waiting.dump();
  EXPECT_TRUE(waiting["lastError"].is_string()) << waiting.dump();
  EXPECT_EQ(sent["records"], 0) << sent.dump();
  EXPECT_TRUE(sent["lastError"].is_null()) << sent.dump();
  EXPECT_EQ(state["slots"].size(), 1u) << state.dump();
  EXPECT_EQ(state["slots"][0]["state"], "verified") << state.dump();
  expectEachRecordPostedOnce();
}

TEST_F(LineStation, ALineThatCannotBeUsedIsRefusedBeforeAnyDevice) {
  addDevice();
  test::writeFileBytes(dir.file("empty"), "# no token yet\n");
  const std::string log = dir.file("station.jsonl");
  const std::string token = dir.file("token");
  struct Case {
    std::vector<std::string> args;
    const char* error;
  };
  const Case cases[] = {
      {{"--all", "--log", log, "--line", "ftp://line", "--line-token-file", token},
       "--line wants http://HOST[:PORT][/PATH] or https://..., not 'ftp://line'"},
      {{"--all", "--log", log, "--line", "http://line:0", "--line-token-file", token},
       "the port must be a number"},
      {{"--all", "--log", log, "--line", line.url(), "--line-token-file", dir.file("empty")},
       "holds no token"},
      {{"--all", "--log", log, "--line", line.url(), "--line-token-file", dir.file("none")},
       "cannot be read"},
      {{"--all", "--line", line.url(), "--line-token-file", token}, "it needs --log FILE"},
      {{"--all", "--log", log, "--line", line.url()}, "--line needs --line-token-file FILE"},
      {{"--all", "--log", log, "--line", line.url(), "--line-token-file", token, "--line-ca",
        token},
       "--line-ca is for an https line"},
      {{"--log", log, "--line", line.url(), "--line-token-file", token},
       "--line needs several devices, --all or --watch"},
      {{"--all", "--log", log, "--line-token-file", token}, "is the token for --line"},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.error);
    const auto result = cli(row.args);
    EXPECT_EQ(result.exitCode, 2) << result.out;
    EXPECT_TRUE(contains(result.out, row.error)) << result.out;
  }
  EXPECT_FALSE(holdsImage(*devices.front()));
  EXPECT_TRUE(line.posted().empty());
}

}  // namespace
}  // namespace voltrix

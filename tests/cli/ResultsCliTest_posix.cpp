// voltrix-cli keeping a station's results in SQLite: the log first, the
// database after it on a thread of its own; a database that cannot be
// written never stops the devices, and every start catches it up; --runs
// prints a shift's results.

#include <signal.h>

#include <atomic>
#include <set>

#include "cli/SinceTime.h"
#include "record/LogCatchUp.h"
#include "record/TraceLog.h"
#include "tests/cli/StationFixture.h"
#include "tests/support/SqlitePeek.h"

namespace voltrix {
namespace {

using namespace std::chrono;
using test::Peek;

class ResultsStation : public Station {
 protected:
  std::string db = dir.file("results.db");
  std::string log = dir.file("station.jsonl");

  test::ProcessResult station(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = portArguments();
    args.insert(args.end(), {"--db", db, "--log", log});
    args.insert(args.end(), extra.begin(), extra.end());
    args.insert(args.begin(), VOLTRIX_CLI);
    test::ChildStreams streams;
    streams.separateError = true;
    return runProcess(args, environment(), seconds(60), {}, streams);
  }
  // The ids of the log's records, each once.
  std::set<std::string> logIds() const {
    std::set<std::string> ids;
    for (const std::string& line : linesOf(test::readFileBytes(log)))
      ids.insert(line.substr(7, 36));
    return ids;
  }
  std::set<std::string> dbIds() const {
    std::set<std::string> ids;
    const Peek peek(db);
    for (long i = 0; i < peek.count("runs"); ++i) {
      ids.insert(peek.text("SELECT id FROM runs ORDER BY id LIMIT 1 OFFSET " + std::to_string(i)));
    }
    return ids;
  }
};

TEST_F(ResultsStation, EachRecordGoesToTheLogThenToTheDatabase) {
  addDevice();
  addDevice();
  // Without --log the log lies beside the database.
  const auto result = cli({"--all", "--db", db});
  ASSERT_EQ(result.exitCode, 0) << result.out;
  log = db + ".jsonl";
  const auto lines = linesOf(test::readFileBytes(log));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(dbIds(), logIds());
  EXPECT_EQ(Peek(db).count("slots"), 2);

  // --runs: the stored records as the log holds them, CSV, and a table.
  auto runs = cli({"--runs", "--db", db, "--json"});
  EXPECT_EQ(runs.exitCode, 0) << runs.out;
  EXPECT_EQ(linesOf(runs.out), lines);
  runs = cli({"--runs", "--db", db, "--csv"});
  const auto csv = linesOf(runs.out);
  ASSERT_EQ(csv.size(), 3u) << runs.out;
  EXPECT_EQ(csv[0].rfind("id,station,version,start,end,slot,port,usb_vid_pid,", 0), 0u) << csv[0];
  for (std::size_t i = 1; i < csv.size(); ++i) {
    EXPECT_EQ(logIds().count(csv[i].substr(0, 36)), 1u) << csv[i];
  }
  runs = cli({"--runs", "--db", db});
  EXPECT_EQ(linesOf(runs.out).front().rfind("end", 0), 0u) << runs.out;
  EXPECT_TRUE(contains(runs.out, "\n2 runs: 2 verified, 0 failed\n")) << runs.out;
  EXPECT_TRUE(contains(runs.out, devices[1]->devicePath())) << runs.out;
}

TEST_F(ResultsStation, ADatabaseThatCannotBeWrittenNeverStopsTheDevices) {
  struct Case {
    const char* name;
    std::function<std::unique_ptr<Peek>()> cause;  // what holds the database back
    const char* says;
  };
  const Case cases[] = {
      {"garbage bytes",
       [&] {
         test::writeFileBytes(db, std::string(4096, '\x5a'));
         return nullptr;
       },
       "file is not a database"},
      {"locked by another program",
       [&] {
         auto holder = std::make_unique<Peek>(db);
         EXPECT_EQ(holder->exec("PRAGMA journal_mode=WAL; BEGIN EXCLUSIVE; CREATE TABLE t(x)"),
                   SQLITE_OK);
         return holder;
       },
       "database is locked"},
  };
  addDevice();
  addDevice();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const std::string& stale : {db, db + "-wal", db + "-shm", log}) ::unlink(stale.c_str());
    auto holder = c.cause();
    auto result = station();
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    for (const auto& device : devices) EXPECT_TRUE(holdsImage(*device));
    EXPECT_TRUE(contains(result.err, "voltrix-cli: database behind: ")) << result.err;
    EXPECT_TRUE(contains(result.err, c.says)) << result.err;
    EXPECT_EQ(logIds().size(), 2u);
    // The cause gone, the next start catches the database up.
    holder.reset();
    if (std::string(c.name) == "garbage bytes") ::unlink(db.c_str());
    result = station();
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_FALSE(contains(result.err, "database behind")) << result.err;
    EXPECT_EQ(logIds().size(), 4u);
    EXPECT_EQ(dbIds(), logIds());
  }
}

TEST_F(ResultsStation, AStationKilledMidWatchLandsEachRecordOnce) {
  addDevice();
  addDevice();
  const auto killed = runProcess({VOLTRIX_CLI, "--watch", "--db", db, "--log", log}, environment(),
                                 seconds(60), [&](pid_t pid, const std::string&) {
                                   if (linesOf(test::readFileBytes(log)).size() >= 2)
                                     ::kill(pid, SIGKILL);
                                 });
  EXPECT_FALSE(killed.timedOut) << killed.out;
  EXPECT_EQ(killed.exitCode, -1) << "not killed: " << killed.out;
  // Restarted: the log's records land once each, with the new one.
  const auto again = cli({"--port", devices[0]->devicePath(), "--db", db, "--log", log});
  EXPECT_EQ(again.exitCode, 0) << again.out;
  EXPECT_EQ(linesOf(test::readFileBytes(log)).size(), 3u);
  EXPECT_EQ(dbIds(), logIds());
  EXPECT_EQ(Peek(db).count("runs"), 3);
}

TEST_F(ResultsStation, RunsSinceATimeListsThatShiftOnly) {
  std::string error;
  auto traceLog = TraceLog::open(log, error);
  ASSERT_TRUE(traceLog) << error;
  const auto morning = sys_days{year{2026} / December / 9} + hours(6);
  std::vector<std::string> lines;
  for (int minute : {-30, 0, 45}) {
    AttemptRecord record;
    record.result = "verified";
    record.started = morning + minutes(minute) - seconds(2);
    record.ended = morning + minutes(minute);
    lines.push_back(traceLog->append(record).line);
  }
  ResultsDbError failure;
  auto results = ResultsDb::open(db, {}, failure);
  ASSERT_TRUE(results) << failure.text;
  ASSERT_EQ(catchUpFromLog(*results, log).added, 3u);
  const auto runs = cli({"--runs", "--db", db, "--since", "2026-12-09T06:00Z", "--json"});
  EXPECT_EQ(runs.exitCode, 0) << runs.out;
  EXPECT_EQ(linesOf(runs.out), std::vector<std::string>(lines.begin() + 1, lines.end()));
}

TEST_F(CliDownload, RunsOptionsAreCheckedLikeTheOthers) {
  const struct {
    std::vector<std::string> args;
    int exitCode;
    const char* says;
  } cases[] = {
      {{"--runs", "--since", "yesterday"}, 2, "--since wants a time (2026-12-09T06:00"},
      {{"--since", "8h"}, 2, "--since has no effect without --runs"},
      {{"--csv"}, 2, "--csv has no effect without --runs"},
      {{"--runs", "--port", "/dev/x"}, 2, "--port has no effect with --runs"},
      {{"--runs", "--csv", "--json"}, 2, "--csv and --json exclude each other"},
      {{"--check", "--db", "x.db"}, 2, "--db has no effect with --check"},
      {{"--runs", "--db", ""}, 2, "--db wants a file"},
      {{"--db", "r.db", "--log", "./r.db"}, 2, "--db and --log name one file"},
      {{"--runs", "--db", "missing.db"}, 10, "cannot open the database missing.db"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front() + " " + c.args.back());
    const auto result = cli(c.args);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.out;
    EXPECT_TRUE(contains(result.out, c.says)) << result.out;
  }
  EXPECT_FALSE(test::fileExists(dir.file("missing.db")));
}

TEST(SinceTime, TimesAndDurationsAsOperatorsWriteThem) {
  const auto now = sys_days{year{2026} / December / 9} + hours(14);
  const auto utc = [](int day, int hour, int minute, int millisecond = 0) {
    return system_clock::time_point(sys_days{year{2026} / December / day}) + hours(hour) +
           minutes(minute) + milliseconds(millisecond);
  };
  const struct {
    const char* text;
    std::optional<system_clock::time_point> expected;
  } cases[] = {
      {"8h", now - hours(8)},
      {"30m", now - minutes(30)},
      {"45s", now - seconds(45)},
      {"2d", now - hours(48)},
      {"2026-12-09T06:00Z", utc(9, 6, 0)},
      {"2026-12-09 06:00:30.5Z", utc(9, 6, 0, 30500)},
      {"2026-12-09T06:00+08:00", utc(8, 22, 0)},
      {"2026-12-09T06:00-0130", utc(9, 7, 30)},
      {"2026-12-09Z", utc(9, 0, 0)},
      {"", std::nullopt},
      {"8", std::nullopt},
      {"0h", std::nullopt},
      {"-8h", std::nullopt},
      {"8 h", std::nullopt},
      {"99999999h", std::nullopt},
      {"2026-13-01", std::nullopt},
      {"2026-02-30", std::nullopt},
      {"2026-12-09T24:00", std::nullopt},
      {"2026-12-09T06:00+24:00", std::nullopt},
      {"yesterday", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(cli::sinceTime(c.text, now), c.expected);
  }
  // Without a zone: the station's local time, whatever zone that is.
  const auto local = cli::sinceTime("2026-12-09T06:00", now);
  ASSERT_TRUE(local);
  EXPECT_LE(std::chrono::abs(*local - utc(9, 6, 0)), hours(15));
  EXPECT_TRUE(cli::sinceTime("2026-12-09", now));
}

}  // namespace
}  // namespace voltrix

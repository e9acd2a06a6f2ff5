// The results database against real SQLite files: records caught up from a
// real log exactly once, the slots' last state, the control audit, the
// schema's steps, and a writer that falls behind a locked or damaged
// database and catches up once it can.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <set>

#include "record/LogCatchUp.h"
#include "record/ResultsDb.h"
#include "record/ResultsWriter.h"
#include "record/TraceLog.h"
#include "tests/support/SqlitePeek.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestUser_posix.h"

namespace voltrix {
namespace {

using namespace std::chrono;

using test::Peek;

AttemptRecord recordOf(const std::string& slot, int exitCode, int minute) {
  AttemptRecord record;
  record.station = "line-3";
  record.slot = slot;
  record.port = "/dev/ttyACM0";
  record.result = exitCode == 0 ? "verified" : "failed";
  record.exitCode = exitCode;
  record.started = sys_days{year{2026} / December / 9} + hours(6) + minutes(minute);
  record.ended = record.started + seconds(2);
  return record;
}

class ResultsDbTest : public ::testing::Test {
 protected:
  std::string appendRecord(const AttemptRecord& record) {
    std::string error;
    auto log = TraceLog::open(logPath, error);
    EXPECT_TRUE(log) << error;
    const auto appended = log->append(record);
    EXPECT_TRUE(appended.kept) << appended.error;
    return appended.line;
  }
  void appendBytes(const std::string& bytes) {
    std::ofstream(logPath, std::ios::app | std::ios::binary) << bytes;
  }
  std::unique_ptr<ResultsDb> openDb(ResultsDbError* failure = nullptr) {
    ResultsDbError error;
    auto db = ResultsDb::open(dbPath, {}, error);
    if (failure != nullptr) *failure = error;
    return db;
  }

  test::TempDir dir;
  std::string logPath = dir.file("station.jsonl");
  std::string dbPath = dir.file("results.db");
};

TEST_F(ResultsDbTest, TheLogIsCaughtUpOnceWhateverItHolds) {
  struct Case {
    const char* name;
    std::string tail;  // after two records
    std::uint64_t skipped;
  };
  const Case cases[] = {
      {"only records", "", 0},
      {"a torn last line, left for later", R"({"id":"torn)", 0},
      {"lines that are no record, then one more record",
       "{\"no\":\"id\"}\nnot json\n\n" + std::string(3 << 20, '{') + "\n", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ::unlink(logPath.c_str());
    ::unlink(dbPath.c_str());
    std::set<std::string> lines = {appendRecord(recordOf("a", 0, 1)),
                                   appendRecord(recordOf("b", 9, 2))};
    appendBytes(c.tail);
    auto db = openDb();
    ASSERT_TRUE(db);
    const CatchUp first = catchUpFromLog(*db, logPath);
    ASSERT_TRUE(first.ok) << first.error.text;
    EXPECT_EQ(first.added, 2u);
    EXPECT_EQ(first.skipped, c.skipped);
    // Twice: nothing new.
    const CatchUp second = catchUpFromLog(*db, logPath);
    EXPECT_EQ(second.added + second.known + second.skipped, 0u);
    // A record after the tail: the torn piece becomes a line of its own.
    lines.insert(appendRecord(recordOf("c", 0, 3)));
    const CatchUp third = catchUpFromLog(*db, logPath);
    EXPECT_EQ(third.added, 1u);
    Peek peek(dbPath);
    EXPECT_EQ(peek.count("runs"), 3);
    // Each row keeps its line verbatim.
    for (const std::string& line : lines) {
      const std::string id = line.substr(7, 36);
      EXPECT_EQ(peek.text("SELECT record FROM runs WHERE id = '" + id + "'"), line);
    }
  }
}

TEST_F(ResultsDbTest, RecordsTheDatabaseHasAreNotWrittenAgainAndTheReadingResumes) {
  const std::string early = appendRecord(recordOf("a", 0, 1));
  appendRecord(recordOf("b", 0, 2));
  auto db = openDb();
  ASSERT_TRUE(db);
  ResultsDbError error;
  // Written live before the process died: the catch-up adds only the other.
  ASSERT_EQ(db->insertRecord(early, error), ResultsDb::Insert::Added);
  EXPECT_EQ(db->insertRecord(early, error), ResultsDb::Insert::Known);
  const CatchUp caught = catchUpFromLog(*db, logPath);
  EXPECT_EQ(caught.added, 1u);
  EXPECT_EQ(caught.known, 1u);
  const auto progress = db->logProgress(std::filesystem::absolute(logPath).string(), error);
  ASSERT_TRUE(progress);
  EXPECT_EQ(progress->offset, std::filesystem::file_size(logPath));
  // A log replaced under the same name is read from its start.
  ASSERT_EQ(::rename(logPath.c_str(), dir.file("old.jsonl").c_str()), 0);
  appendRecord(recordOf("c", 0, 3));
  EXPECT_EQ(catchUpFromLog(*db, logPath).added, 1u);
  EXPECT_EQ(db->runCount(error), 3);
}

TEST_F(ResultsDbTest, SlotsKeepTheirNewestStateAndTheAuditKeepsEachRequest) {
  auto db = openDb();
  ASSERT_TRUE(db);
  ResultsDbError error;
  const std::string newer = appendRecord(recordOf("hub-1", 9, 5));
  const std::string older = appendRecord(recordOf("hub-1", 0, 1));
  ASSERT_EQ(db->insertRecord(newer, error), ResultsDb::Insert::Added);
  ASSERT_EQ(db->insertRecord(older, error), ResultsDb::Insert::Added);
  ControlAuditEntry entry{system_clock::now(), "operator", "alice", "pause",
                          "127.0.0.1",         "accepted"};
  ASSERT_TRUE(db->recordControl(entry, error)) << error.text;
  Peek peek(dbPath);
  EXPECT_EQ(peek.text("SELECT state FROM slots WHERE slot = 'hub-1'"), "failed");
  EXPECT_EQ(peek.text("SELECT last_run_id FROM slots"), newer.substr(7, 36));
  EXPECT_EQ(peek.text("SELECT who || ' ' || action || ' ' || remote_address FROM control_audit"),
            "alice pause 127.0.0.1");
  EXPECT_EQ(peek.text("SELECT max(version) FROM migrations"),
            std::to_string(ResultsDb::latestSchemaVersion()));
  EXPECT_EQ(peek.text("PRAGMA journal_mode"), "wal");
}

TEST_F(ResultsDbTest, ADatabaseThatCannotBeUsedSaysWhy) {
  struct Case {
    const char* name;
    std::function<void()> make;
    ResultsDbFailure kind;
  };
  const Case cases[] = {
      {"garbage bytes", [&] { std::ofstream(dbPath) << std::string(8192, 'x'); },
       ResultsDbFailure::Corrupt},
      {"made by a newer program",
       [&] {
         ASSERT_TRUE(openDb());
         Peek(dbPath).exec("INSERT INTO migrations VALUES(99, 'later')");
       },
       ResultsDbFailure::Newer},
      {"a folder that does not exist", [&] { dbPath = dir.file("missing/results.db"); },
       ResultsDbFailure::CannotOpen},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ::unlink(dbPath.c_str());
    c.make();
    ResultsDbError error;
    EXPECT_FALSE(openDb(&error));
    EXPECT_EQ(error.kind, c.kind) << error.text;
    EXPECT_FALSE(error.text.empty());
  }
}

// Root writes whatever the permissions say: the database is opened by the
// test user then, in a child that tells the kind of failure by its exit.
TEST_F(ResultsDbTest, ADatabaseThatMayNotBeWrittenIsReadOnly) {
  ASSERT_TRUE(openDb());
  // Out of WAL mode, so that a reader needs no shared-memory file beside it.
  ASSERT_EQ(Peek(dbPath).exec("PRAGMA journal_mode=DELETE"), SQLITE_OK);
  ASSERT_EQ(::chmod(dbPath.c_str(), 0444), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  const auto kindOfOpen = [this] {
    ResultsDbError error;
    openDb(&error);
    return static_cast<int>(error.kind);
  };
  int kind = 0;
  if (::geteuid() != 0) {
    kind = kindOfOpen();
  } else {
    const auto user = test::findTestUser();
    ASSERT_TRUE(user) << test::missingTestUserMessage();
    const pid_t child = ::fork();
    if (child == 0) ::_exit(test::becomeTestUser(*user) ? kindOfOpen() : 100);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    kind = WEXITSTATUS(status);
  }
  EXPECT_EQ(kind, static_cast<int>(ResultsDbFailure::ReadOnly));
}

TEST_F(ResultsDbTest, TheWriterFallsBehindALockedDatabaseAndCatchesUpAfter) {
  ASSERT_TRUE(openDb());
  Peek holder(dbPath);
  ASSERT_EQ(holder.exec("BEGIN EXCLUSIVE; INSERT INTO control_audit(at, action) VALUES('x', 'y')"),
            SQLITE_OK);
  ResultsWriter::Timing quick{milliseconds(100), milliseconds(50), milliseconds(200)};
  ResultsWriter writer(dbPath, logPath, quick);
  writer.submit(appendRecord(recordOf("a", 0, 1)), true);
  // Lost by the log: only the writer's memory has it.
  const std::string lost = traceRecordJson(recordOf("b", 0, 2), newRecordId());
  writer.submit(lost, false);
  const auto deadline = steady_clock::now() + seconds(20);
  std::vector<ResultsNotice> notices;
  while (notices.empty() && steady_clock::now() < deadline) {
    notices = writer.takeNotices();
    if (notices.empty()) std::this_thread::sleep_for(milliseconds(10));
  }
  ASSERT_FALSE(notices.empty());
  EXPECT_EQ(notices[0].kind, ResultsNotice::Kind::Behind);
  EXPECT_EQ(notices[0].failure, ResultsDbFailure::Locked);
  EXPECT_TRUE(notices[0].firstOfKind);
  ASSERT_TRUE(writer.behind());
  EXPECT_EQ(writer.behind()->rfind("database behind: ", 0), 0u) << *writer.behind();
  holder.exec("COMMIT");
  ASSERT_TRUE(writer.waitCaughtUp(seconds(20)));
  EXPECT_EQ(Peek(dbPath).count("runs"), 2);
  writer.finish(seconds(1));
  notices = writer.takeNotices();
  ASSERT_FALSE(notices.empty());
  EXPECT_EQ(notices.back().kind, ResultsNotice::Kind::CaughtUp);
}

}  // namespace
}  // namespace voltrix

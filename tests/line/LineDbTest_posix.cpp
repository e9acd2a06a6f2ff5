// The line's database against a real PostgreSQL cluster the tests start:
// the schema made from nothing and left alone when reopened, each record
// once however often it comes, exports of a time range, and typed errors
// for a server that is away or refuses the login.

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <memory>

#include "line/LineDb.h"
#include "record/TraceLog.h"
#include "tests/line/PgCluster_posix.h"
#include "tests/support/TempDir.h"

namespace voltrix {
namespace {

using namespace std::chrono;

class LineDbTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { cluster = std::make_unique<test::PgCluster>(); }
  static void TearDownTestSuite() { cluster.reset(); }
  void SetUp() override {
    ASSERT_FALSE(cluster->conninfo().empty()) << cluster->startError();
    conninfo = cluster->freshDatabase();
    ASSERT_FALSE(conninfo.empty());
  }

  std::unique_ptr<LineDb> open() {
    LineDbError error;
    auto db = LineDb::open(conninfo, error);
    EXPECT_TRUE(db) << error.text;
    return db;
  }
  // The first value of a query, read with libpq alone.
  std::string peek(const std::string& sql) {
    std::unique_ptr<PGconn, decltype(&PQfinish)> connection(PQconnectdb(conninfo.c_str()),
                                                            PQfinish);
    std::unique_ptr<PGresult, decltype(&PQclear)> result(PQexec(connection.get(), sql.c_str()),
                                                         PQclear);
    EXPECT_EQ(PQresultStatus(result.get()), PGRES_TUPLES_OK) << PQerrorMessage(connection.get());
    return PQntuples(result.get()) > 0 ? PQgetvalue(result.get(), 0, 0) : "";
  }
  // A record as a station writes it into its log, ended at 06:00 + `minute`.
  std::string stationRecord(const std::string& slot, int exitCode, int minute,
                            const std::string& result = "verified") {
    AttemptRecord record;
    record.station = "line-3";
    record.slot = slot;
    record.port = "/dev/ttyACM0";
    record.result = result;
    record.exitCode = exitCode;
    record.ended = sys_days{year{2026} / December / 9} + hours(6) + minutes(minute);
    record.started = record.ended - seconds(2);
    std::string error;
    auto log = TraceLog::open(dir.file("station.jsonl"), error);
    const auto appended = log->append(record);
    EXPECT_TRUE(appended.kept) << error << appended.error;
    return appended.line;
  }
  std::string exported(LineExportFormat format, LineExportRange range = {}) {
    std::string text;
    LineDbError error;
    EXPECT_TRUE(db->exportRuns(
        range, format, [&text](std::string_view piece) { return text.append(piece), true; }, error))
        << error.text;
    return text;
  }

  static std::unique_ptr<test::PgCluster> cluster;
  test::TempDir dir;
  std::string conninfo;
  std::unique_ptr<LineDb> db;
};

std::unique_ptr<test::PgCluster> LineDbTest::cluster;

TEST_F(LineDbTest, TheSchemaIsMadeFromNothingOnceAndANewerOneIsLeftAlone) {
  ASSERT_TRUE(db = open());
  EXPECT_EQ(db->schemaVersion(), LineDb::latestSchemaVersion());
  for (const char* table : {"runs", "stations", "slots", "control_audit", "tokens", "jobs"}) {
    EXPECT_EQ(peek(std::string("SELECT to_regclass('") + table + "') IS NOT NULL"), "t") << table;
  }
  db.reset();
  ASSERT_TRUE(db = open());
  EXPECT_EQ(peek("SELECT count(*) FROM migrations"), std::to_string(LineDb::latestSchemaVersion()));

  peek("INSERT INTO migrations VALUES (99, now()) RETURNING version");
  LineDbError error;
  EXPECT_FALSE(LineDb::open(conninfo, error));
  EXPECT_EQ(error.kind, LineDbFailure::Newer);
  EXPECT_NE(error.text.find("schema version 99, made by a newer voltrix"), std::string::npos)
      << error.text;
}

TEST_F(LineDbTest, EachRecordLandsOnceWhateverIsSentAgain) {
  ASSERT_TRUE(db = open());
  const std::string first = stationRecord("usb-1", 0, 1);
  const std::string second = stationRecord("usb-1", 9, 2, "failed: read-back differs");
  struct Case {
    const char* name;
    std::vector<std::string> batch;
    std::size_t added, known, notRecords;
  };
  const Case cases[] = {
      {"a new record", {first}, 1, 0, 0},
      {"the same again", {first}, 0, 1, 0},
      {"a known and a new one, the new one twice", {first, second, second}, 1, 2, 0},
      {"lines that are no record", {"not json", R"({"no":"id"})", R"({"id":""})", "[1]"}, 0, 0, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LineDbError error;
    const auto count = db->insertRecords(c.batch, error);
    ASSERT_TRUE(count) << error.text;
    EXPECT_EQ(count->added, c.added);
    EXPECT_EQ(count->known, c.known);
    EXPECT_EQ(count->notRecords, c.notRecords);
  }
  EXPECT_EQ(peek("SELECT count(*) FROM runs"), "2");
  EXPECT_EQ(peek("SELECT state || ' ' || last_result FROM slots WHERE station = 'line-3' AND "
                 "slot = 'usb-1'"),
            "failed failed: read-back differs");
  EXPECT_EQ(peek("SELECT exit_code || ' ' || \"end\" FROM runs WHERE exit_code = 9"),
            "9 2026-12-09 06:02:00+00");

  // A late record of the slot does not overwrite its newer state; an odd
  // time stays in the record only, and the batch goes in.
  const std::string late = stationRecord("usb-1", 0, 0);
  std::string noYear = stationRecord("usb-2", 0, 5), noSuchDay = stationRecord("usb-3", 0, 6);
  const auto start = [](std::string& line) { return line.find("\"start\":\"") + 9; };
  noYear.replace(start(noYear), 4, "year");
  noSuchDay.replace(start(noSuchDay), 10, "2026-02-31");
  LineDbError error;
  ASSERT_TRUE(db->insertRecords({late, noYear, noSuchDay}, error)) << error.text;
  EXPECT_EQ(peek("SELECT state FROM slots WHERE slot = 'usb-1'"), "failed");
  EXPECT_EQ(peek("SELECT count(*) FROM runs WHERE start IS NULL AND record IN ($$" + noYear +
                 "$$, $$" + noSuchDay + "$$)"),
            "2");
}

TEST_F(LineDbTest, ExportsHoldTheRecordsOfTheirRangeOldestFirst) {
  ASSERT_TRUE(db = open());
  std::vector<std::string> lines;
  for (int minute : {30, 10, 20, 40}) {
    lines.push_back(stationRecord("usb-" + std::to_string(minute), minute == 20 ? 9 : 0, minute,
                                  minute == 20 ? "failed: \"read-back\", segment 1" : "verified"));
  }
  LineDbError error;
  ASSERT_TRUE(db->insertRecords(lines, error)) << error.text;

  const auto at = [](int minute) {
    return system_clock::time_point(sys_days{year{2026} / December / 9} + hours(6) +
                                    minutes(minute));
  };
  EXPECT_EQ(exported(LineExportFormat::Jsonl),
            lines[1] + "\n" + lines[2] + "\n" + lines[0] + "\n" + lines[3] + "\n");
  // From is kept, to is not.
  EXPECT_EQ(exported(LineExportFormat::Jsonl, {at(20), at(40)}), lines[2] + "\n" + lines[0] + "\n");
  EXPECT_EQ(exported(LineExportFormat::Jsonl, {std::nullopt, at(20)}), lines[1] + "\n");

  const auto csv = test::linesOf(exported(LineExportFormat::Csv, {at(15), std::nullopt}));
  ASSERT_EQ(csv.size(), 4U);
  EXPECT_EQ(csv[0].rfind("id,station,version,start,end,slot,port,usb_vid_pid,", 0), 0U) << csv[0];
  const auto idOf = [](const std::string& line) { return line.substr(7, 36); };
  EXPECT_EQ(csv[1].rfind(idOf(lines[2]) + ",line-3,", 0), 0U) << csv[1];
  EXPECT_NE(csv[1].find(",2026-12-09T06:19:58.000Z,2026-12-09T06:20:00.000Z,usb-20,"),
            std::string::npos)
      << csv[1];
  EXPECT_NE(csv[1].find(",\"failed: \"\"read-back\"\", segment 1\",9,"), std::string::npos)
      << csv[1];
  EXPECT_EQ(csv[2].rfind(idOf(lines[0]), 0), 0U);
  EXPECT_EQ(csv[3].rfind(idOf(lines[3]), 0), 0U);

  // A sink that stops ends the export, and the connection goes on.
  int pieces = 0;
  EXPECT_TRUE(db->exportRuns(
      {}, LineExportFormat::Csv, [&pieces](std::string_view) { return ++pieces, false; }, error));
  EXPECT_EQ(pieces, 1);
  const auto count = db->insertRecords({stationRecord("usb-50", 0, 50)}, error);
  ASSERT_TRUE(count) << error.text;
  EXPECT_EQ(count->added, 1U);
}

TEST_F(LineDbTest, AServerAwayOrARefusedLoginSaysSo) {
  // A connection the server ends while it is open: to be tried again later.
  ASSERT_TRUE(db = open());
  peek(
      "SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
      "WHERE datname = current_database() AND pid <> pg_backend_pid()");
  LineDbError lost;
  EXPECT_FALSE(db->insertRecords({stationRecord("usb-1", 0, 1)}, lost));
  EXPECT_EQ(lost.kind, LineDbFailure::CannotConnect) << lost.text;
  EXPECT_NE(lost.text.find("server closed the connection"), std::string::npos) << lost.text;

  const std::string wrongPassword = cluster->conninfo() + " password=wrong";
  const std::string noDatabase = cluster->conninfo() + " dbname=no_such_database";
  struct Case {
    const char* name;
    std::string conninfo;
    LineDbFailure kind;
    const char* says;
  };
  const Case cases[] = {
      {"nothing listens", "host=127.0.0.1 port=1 user=voltrix", LineDbFailure::CannotConnect,
       "Connection refused"},
      {"a wrong password", wrongPassword, LineDbFailure::Auth, "password authentication failed"},
      {"no such database", noDatabase, LineDbFailure::Auth, "no_such_database"},
      {"an unreadable connection string", "host=127.0.0.1 port", LineDbFailure::Other,
       "connection string cannot be read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LineDbError error;
    EXPECT_FALSE(LineDb::open(c.conninfo, error));
    EXPECT_EQ(error.kind, c.kind) << lineDbFailureName(error.kind) << ": " << error.text;
    EXPECT_NE(error.text.find(c.says), std::string::npos) << error.text;
  }
}

// The database says who may do what now: a token dropped from the file is
// revoked, one given again is taken back, and only hashes are kept.
TEST_F(LineDbTest, TokensAreKeptByHashAndRevokedWhenNoLongerGiven) {
  ASSERT_TRUE(db = open());
  const std::string a(64, 'a'), b(64, 'b');
  LineDbError error;
  ASSERT_TRUE(db->recordTokens({{a, "viewer", "quality"}, {b, "station", "line-3"}}, error))
      << error.text;
  ASSERT_TRUE(db->recordTokens({{a, "engineer", "quality"}}, error)) << error.text;
  EXPECT_EQ(peek("SELECT string_agg(role || ':' || (revoked_at IS NULL)::text, ',' ORDER BY "
                 "token_sha256) FROM tokens"),
            "engineer:true,station:false");
  ASSERT_TRUE(db->recordTokens({{a, "engineer", "quality"}, {b, "station", "line-3"}}, error));
  EXPECT_EQ(peek("SELECT count(*) FROM tokens WHERE revoked_at IS NULL"), "2");
  EXPECT_FALSE(db->recordTokens({{"not a digest", "viewer", "x"}}, error));
  EXPECT_EQ(peek("SELECT count(*) FROM tokens WHERE revoked_at IS NULL"), "2");
}

}  // namespace
}  // namespace voltrix

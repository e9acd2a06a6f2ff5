// The line's jobs against a real PostgreSQL cluster: a job is stored only
// when the line's own keys check it out, the newest one is current, each
// publishing (refused or not) is audited with who did it, the image comes
// back byte for byte, and the quota counts the verified runs of the job's
// image since it was published.

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <memory>

#include "job/JobMetaJson.h"
#include "line/LineDb.h"
#include "line/LineJobs.h"
#include "record/TraceLog.h"
#include "tests/line/PgCluster_posix.h"
#include "tests/support/TempDir.h"

namespace voltrix {
namespace {

using namespace std::chrono;

struct Signer {
  explicit Signer(const test::TempDir& dir, const std::string& name) {
    KeyFileError error;
    const auto files = writeNewKeyPair(dir.file(name), error);
    EXPECT_TRUE(files) << error.text;
    secret = *readSecretKey(files->secretFile, error);
    publicKey = *readPublicKey(files->publicFile, error);
  }
  SecretKey secret;
  PublicKey publicKey;
};

class LineJobsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { cluster = std::make_unique<test::PgCluster>(); }
  static void TearDownTestSuite() { cluster.reset(); }
  void SetUp() override {
    ASSERT_FALSE(cluster->conninfo().empty()) << cluster->startError();
    conninfo = cluster->freshDatabase();
    LineDbError error;
    db = LineDb::open(conninfo, error);
    ASSERT_TRUE(db) << error.text;
    jobs = std::make_unique<LineJobs>(db->session(), std::vector{engineer.publicKey});
  }

  std::string peek(const std::string& sql) {
    std::unique_ptr<PGconn, decltype(&PQfinish)> connection(PQconnectdb(conninfo.c_str()),
                                                            PQfinish);
    std::unique_ptr<PGresult, decltype(&PQclear)> result(PQexec(connection.get(), sql.c_str()),
                                                         PQclear);
    EXPECT_EQ(PQresultStatus(result.get()), PGRES_TUPLES_OK) << PQerrorMessage(connection.get());
    return PQntuples(result.get()) > 0 ? PQgetvalue(result.get(), 0, 0) : "";
  }
  std::optional<LinePublish> publish(const std::vector<std::uint8_t>& image, const SecretKey& key,
                                     std::optional<std::int64_t> quota) {
    LineDbError error;
    auto published = jobs->publish(image, "sysbin.bin", signImage(image, key), quota,
                                   {"ana", "engineer", "10.0.0.7"}, error);
    EXPECT_TRUE(published) << error.text;
    return published;
  }
  // A run as a station records it, `exitCode` and `sha256`, ended `ago` before now.
  void addRun(const std::string& sha256, int exitCode, system_clock::duration ago) {
    AttemptRecord record;
    record.station = "line-3";
    record.slot = "usb-1";
    record.port = "/dev/ttyACM0";
    record.imageSha256 = sha256;
    record.result = exitCode == 0 ? "verified" : "failed";
    record.exitCode = exitCode;
    record.ended = system_clock::now() - ago;
    record.started = record.ended - seconds(2);
    std::string error;
    auto log = TraceLog::open(dir.file("station.jsonl"), error);
    const auto appended = log->append(record);
    LineDbError dbError;
    ASSERT_TRUE(db->insertRecords({appended.line}, dbError)) << dbError.text;
  }

  static std::unique_ptr<test::PgCluster> cluster;
  test::TempDir dir;
  Signer engineer{dir, "engineer"}, stranger{dir, "stranger"};
  std::string conninfo;
  std::unique_ptr<LineDb> db;
  std::unique_ptr<LineJobs> jobs;
};

std::unique_ptr<test::PgCluster> LineJobsTest::cluster;

TEST_F(LineJobsTest, OnlyAJobTheLineTrustsIsStoredAndTheNewestIsCurrent) {
  LineDbError error;
  EXPECT_FALSE(jobs->current(error));
  EXPECT_EQ(error.kind, LineDbFailure::None);

  const std::vector<std::uint8_t> first(1000, 0x11), second{0, 1, 2, 0xFF, 0, 0x5C, 0x78};
  const auto refused = publish(first, stranger.secret, std::nullopt);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->verdict.check, JobCheck::BadSignature);
  EXPECT_FALSE(refused->job);
  EXPECT_EQ(peek("SELECT count(*) FROM jobs"), "0");
  LineDbError malformedError;
  const auto malformed = jobs->publish(first, "two\nlines", signImage(first, engineer.secret),
                                       std::nullopt, {"ana", "engineer", ""}, malformedError);
  ASSERT_TRUE(malformed);
  EXPECT_EQ(malformed->verdict.check, JobCheck::Malformed);

  const auto one = publish(first, engineer.secret, 3);
  ASSERT_TRUE(one && one->job) << one->verdict.text;
  const auto two = publish(second, engineer.secret, std::nullopt);
  ASSERT_TRUE(two && two->job);
  const auto current = jobs->current(error);
  ASSERT_TRUE(current) << error.text;
  EXPECT_EQ(current->job.id, two->job->id);
  EXPECT_EQ(current->job.sha256, sha256Hex(second));
  EXPECT_EQ(current->job.size, second.size());
  EXPECT_EQ(current->job.createdBy, "ana");
  EXPECT_FALSE(current->remaining);
  EXPECT_EQ(peek("SELECT count(*) FROM jobs WHERE current"), "1");
  // Each image comes back as it went in, a job that is not there as none.
  EXPECT_EQ(jobs->imageBytes(one->job->id, error), first);
  EXPECT_EQ(jobs->imageBytes(two->job->id, error), second);
  EXPECT_FALSE(jobs->imageBytes(two->job->id + 100, error));
  EXPECT_EQ(error.kind, LineDbFailure::None);
  // Each attempt to publish is in the audit, with who and how it ended.
  EXPECT_EQ(peek("SELECT string_agg(who || ' ' || role || ' ' || result, ', ' ORDER BY id) "
                 "FROM control_audit"),
            "ana engineer refused: bad-signature, ana engineer refused: malformed, "
            "ana engineer ok, ana engineer ok");
  EXPECT_EQ(peek("SELECT action FROM control_audit ORDER BY id DESC LIMIT 1"),
            "publish job sysbin.bin (" + sha256Hex(second).substr(0, 8) + ")");
}

TEST_F(LineJobsTest, TheQuotaCountsVerifiedRunsOfTheJobsImageSincePublished) {
  const std::vector<std::uint8_t> image(500, 0x42);
  const std::string sha256 = sha256Hex(image);
  addRun(sha256, 0, hours(1));  // before the job: not counted
  const auto published = publish(image, engineer.secret, 3);
  ASSERT_TRUE(published && published->job);
  addRun(sha256, 0, -seconds(1));
  addRun(sha256, 9, -seconds(2));                // failed: not counted
  addRun(std::string(64, 'a'), 0, -seconds(3));  // another image: not counted
  LineDbError error;
  auto current = jobs->current(error);
  ASSERT_TRUE(current) << error.text;
  EXPECT_EQ(current->verified, 1);
  EXPECT_EQ(current->remaining, std::optional<std::int64_t>(2));
  addRun(sha256, 0, -seconds(4));
  addRun(sha256, 0, -seconds(5));
  addRun(sha256, 0, -seconds(6));
  current = jobs->current(error);
  ASSERT_TRUE(current);
  EXPECT_EQ(current->verified, 4);
  EXPECT_EQ(current->remaining, std::optional<std::int64_t>(0));

  // What GET /api/job says of it is what a station reads.
  std::string jsonError;
  const auto meta = jobMetaOfJson(currentJobJson(*current), jsonError);
  ASSERT_TRUE(meta) << jsonError;
  EXPECT_EQ(meta->id, published->job->id);
  EXPECT_EQ(meta->sha256, sha256);
  EXPECT_EQ(meta->size, image.size());
  EXPECT_EQ(meta->remaining, std::optional<std::int64_t>(0));
  EXPECT_TRUE(
      verifyJob(image, meta->size, meta->sha256, meta->signature, {engineer.publicKey}).ok());
  EXPECT_EQ(publishedJobJson(*published->job), "{\"id\":" + std::to_string(meta->id) +
                                                   ",\"name\":\"sysbin.bin\",\"sha256\":\"" +
                                                   sha256 + "\",\"size\":500}");
}

}  // namespace
}  // namespace voltrix

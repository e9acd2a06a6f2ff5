// Signed jobs end to end: voltrix-line makes the keys and signs, an
// engineer publishes over HTTP, the line refuses what does not check out
// and serves the current job, and voltrix-cli stations on simulated devices
// take it (or refuse a tampered one and keep their last good image), until
// its quota is reached.

#include <gtest/gtest.h>
#include <httplib.h>
#include <libpq-fe.h>
#include <signal.h>

#include <memory>

#include "job/JobSignature.h"
#include "record/JsonText.h"
#include "tests/cli/StationFixture.h"
#include "tests/line/PgCluster_posix.h"
#include "tests/line/RunningLine_posix.h"

namespace voltrix {
namespace {

constexpr char kViewer[] = "viewer-token-0123456789";
constexpr char kEngineer[] = "engineer-token-0123456789";
constexpr char kStation[] = "station-token-0123456789";

// Another image than the station's sysbin.bin: what a job brings.
std::vector<ImageRecord> jobSegments(std::uint8_t seed) {
  std::vector<ImageRecord> records = threeSegments();
  for (ImageRecord& record : records) {
    for (std::uint8_t& byte : record.data) byte = static_cast<std::uint8_t>(byte ^ seed);
  }
  return records;
}

std::string textOf(const std::vector<std::uint8_t>& bytes) {
  return {bytes.begin(), bytes.end()};
}

std::string sha256Of(const std::string& bytes) {
  return sha256Hex({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

class JobWire : public Station {
 protected:
  static void SetUpTestSuite() { cluster = std::make_unique<test::PgCluster>(); }
  static void TearDownTestSuite() { cluster.reset(); }

  void SetUp() override {
    Station::SetUp();
    ASSERT_FALSE(cluster->conninfo().empty()) << cluster->startError();
    conninfo = cluster->freshDatabase();
    test::writeFileBytes(dir.file("tokens"), std::string("viewer ") + kViewer + "\nengineer " +
                                                 kEngineer + " erin\nstation " + kStation + "\n");
    test::writeFileBytes(dir.file("line-token"), std::string(kStation) + "\n");
    for (const char* key : {"jobs", "other"}) {
      const auto made = line({"--keygen", dir.file(key)});
      ASSERT_EQ(made.exitCode, 0) << made.out;
    }
  }
  static test::ProcessResult line(std::vector<std::string> args) {
    args.insert(args.begin(), VOLTRIX_LINE_PROGRAM);
    return test::runProcess(args);
  }
  void startLine(bool trustKey = true) {
    std::vector<std::string> options{"--db",        conninfo,       "--listen",
                                     "127.0.0.1:0", "--token-file", dir.file("tokens")};
    if (trustKey) options.insert(options.end(), {"--trust-key", dir.file("jobs.pub")});
    running = std::make_unique<test::RunningLine>(options);
    url = running->url();
    ASSERT_FALSE(url.empty()) << running->output();
  }
  // The image's signature as `voltrix-line --sign` prints it.
  std::string sign(const std::string& image, const char* key = "jobs") {
    const std::string file = dir.file("job-" + sha256Of(image).substr(0, 8) + ".bin");
    test::writeFileBytes(file, image);
    const auto signed_ = line({"--sign", "--key", dir.file(std::string(key) + ".key"), file});
    EXPECT_EQ(signed_.exitCode, 0) << signed_.out;
    EXPECT_EQ(test::readFileBytes(file + ".sig").find(linesOf(signed_.out).front()), 0u);
    return linesOf(signed_.out).front();
  }
  httplib::Result publish(const std::string& image, const std::string& signature,
                          const char* token = kEngineer, const std::string& quota = {}) {
    httplib::Client client(url);
    httplib::Params query{{"name", "sysbin.bin"}, {"signature", signature}};
    if (!quota.empty()) query.emplace("quota", quota);
    return client.Post(httplib::append_query_params("/api/jobs", query).c_str(),
                       {{"Authorization", std::string("Bearer ") + token}}, image,
                       "application/octet-stream");
  }
  httplib::Result get(const std::string& path, const char* token = kStation) {
    httplib::Client client(url);
    return client.Get(path.c_str(), {{"Authorization", std::string("Bearer ") + token}});
  }
  std::string sql(const std::string& statement, const std::vector<std::string>& values = {}) {
    std::unique_ptr<PGconn, decltype(&PQfinish)> connection(PQconnectdb(conninfo.c_str()),
                                                            PQfinish);
    std::vector<const char*> params;
    for (const std::string& value : values) params.push_back(value.c_str());
    std::unique_ptr<PGresult, decltype(&PQclear)> result(
        PQexecParams(connection.get(), statement.c_str(), static_cast<int>(params.size()), nullptr,
                     params.data(), nullptr, nullptr, 0),
        PQclear);
    EXPECT_NE(PQresultStatus(result.get()), PGRES_FATAL_ERROR) << PQerrorMessage(connection.get());
    return PQntuples(result.get()) > 0 ? PQgetvalue(result.get(), 0, 0) : "";
  }
  // A station that follows the line; `onOutput` sees what it printed.
  test::ProcessResult station(std::vector<std::string> more,
                              const std::function<void(pid_t, const std::string&)>& onOutput) {
    std::vector<std::string> args{VOLTRIX_CLI,
                                  "--watch",
                                  "--log",
                                  dir.file("station.jsonl"),
                                  "--line",
                                  url,
                                  "--line-token-file",
                                  dir.file("line-token"),
                                  "--trust-key",
                                  dir.file("jobs.pub")};
    args.insert(args.end(), more.begin(), more.end());
    return runProcess(args, environment(), std::chrono::seconds(90), onOutput);
  }
  // The sha256 of the image each record of the log names.
  std::vector<std::string> recordedImages() const {
    std::vector<std::string> images;
    for (const std::string& record : logRecords()) {
      images.push_back(JsonDocument::parse(record)["image"]["sha256"].get<std::string>());
    }
    return images;
  }
  // Plugs a device in once the station printed `text`, once.
  std::function<void(pid_t, const std::string&)> plugWhen(const std::string& text) {
    return [this, text](pid_t, const std::string& out) {
      if (devices.empty() && contains(out, text)) addDevice();
    };
  }

  static inline std::unique_ptr<test::PgCluster> cluster;
  std::string conninfo, url;
  std::unique_ptr<test::RunningLine> running;
  const std::string jobImage = textOf(buildImage(jobSegments(0x5A)).bytes);
};

TEST_F(JobWire, TheLineTakesOnlyWhatChecksOutAndOnlyFromThoseWhoMayPublish) {
  startLine();
  const std::string signature = sign(jobImage);
  ASSERT_EQ(get("/api/job")->status, 204);
  std::string truncated = jobImage.substr(0, jobImage.size() - 1), flipped = jobImage;
  flipped[flipped.size() / 2] ^= 0x01;
  struct Case {
    const char* name;
    std::string image, signature;
    const char* token;
    int status;
    const char* check;  // of a 422
  } const cases[] = {
      {"no token", jobImage, signature, "", 401, ""},
      {"a viewer", jobImage, signature, kViewer, 403, ""},
      {"a station", jobImage, signature, kStation, 403, ""},
      {"a flipped byte", flipped, signature, kEngineer, 422, "bad-signature"},
      {"a truncated image", truncated, signature, kEngineer, 422, "bad-signature"},
      {"another key", jobImage, sign(jobImage, "other"), kEngineer, 422, "bad-signature"},
      {"no signature", jobImage, "", kEngineer, 422, "malformed"},
  };
  for (const Case& c : cases) {
    const auto answer = publish(c.image, c.signature, c.token);
    ASSERT_TRUE(answer) << c.name;
    EXPECT_EQ(answer->status, c.status) << c.name << ": " << answer->body;
    if (c.status == 422) {
      EXPECT_EQ(JsonDocument::parse(answer->body)["check"], c.check) << c.name;
    }
  }
  EXPECT_EQ(get("/api/job")->status, 204);

  const auto published = publish(jobImage, signature, kEngineer, "5");
  ASSERT_EQ(published->status, 201) << published->body;
  const JsonDocument job = JsonDocument::parse(published->body);
  EXPECT_EQ(job["sha256"], sha256Of(jobImage));
  const auto current = get("/api/job");
  ASSERT_EQ(current->status, 200);
  EXPECT_EQ(JsonDocument::parse(current->body)["remaining"], 5);
  EXPECT_EQ(get("/api/job", kViewer)->status, 200);
  const std::string imagePath = "/api/jobs/" + std::to_string(job["id"].get<int>()) + "/image";
  EXPECT_EQ(get(imagePath)->body, jobImage);
  EXPECT_EQ(get("/api/jobs/999/image")->status, 404);
  EXPECT_NE(get("/metrics", kViewer)->body.find("voltrix_line_job_remaining 5"), std::string::npos);
  // The refused ones with a token that may publish are audited, and the one taken.
  EXPECT_EQ(sql("SELECT count(*) FROM control_audit WHERE action LIKE 'publish job%'"), "5");
  EXPECT_EQ(sql("SELECT count(*) FROM control_audit WHERE who = 'erin' AND result = 'ok'"), "1");
  // The event stream tells the job.
  httplib::Client events(url);
  std::string streamed;
  events.Get(("/api/events?after=0&token=" + std::string(kViewer)).c_str(),
             [&](const char* data, std::size_t length) {
               streamed.append(data, length);
               return !contains(streamed, "event: job");
             });
  EXPECT_TRUE(contains(streamed, "event: job\ndata: " + jsonLine(job))) << streamed;
}

TEST_F(JobWire, ALineWithoutTrustedKeysRefusesEveryJob) {
  startLine(false);
  const auto answer = publish(jobImage, sign(jobImage));
  EXPECT_EQ(answer->status, 422);
  EXPECT_TRUE(contains(answer->body, "the line trusts no key")) << answer->body;
  EXPECT_EQ(sql("SELECT result FROM control_audit"), "refused: no-trusted-key");
}

TEST_F(JobWire, AStationTakesThePublishedJobAndKeepsItWhenTheNextOneIsTampered) {
  startLine();
  const std::string goodSha = sha256Of(jobImage);
  ASSERT_EQ(publish(jobImage, sign(jobImage))->status, 201);
  auto run = station({"--count", "1"}, plugWhen("taken: next devices get it"));
  ASSERT_EQ(run.exitCode, 0) << run.out;
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(recordedImages(), std::vector<std::string>{goodSha});
  records = jobSegments(0x5A);
  EXPECT_TRUE(holdsImage(*devices[0]));
  // The state the station posted names the job's image, not its --image.
  const JsonDocument board = JsonDocument::parse(get("/api/stations", kViewer)->body);
  ASSERT_EQ(board["stations"].size(), 1u) << board;
  EXPECT_EQ(board["stations"][0]["image"]["sha256"], goodSha) << board;
  EXPECT_EQ(board["stations"][0]["image"]["name"], "sysbin.bin") << board;

  // A good job published, then its bytes changed in the database: the line
  // serves a tampered image under the job's sha256 and signature.
  const std::string next = textOf(buildImage(jobSegments(0x33)).bytes);
  const auto published = publish(next, sign(next));
  ASSERT_EQ(published->status, 201);
  std::string tampered = next;
  tampered[tampered.size() - 1] ^= 0x01;
  sql("UPDATE jobs SET image = decode($1, 'hex') WHERE current", {[&] {
        std::string hex;
        for (const unsigned char byte : tampered) {
          hex += "0123456789abcdef"[byte >> 4];
          hex += "0123456789abcdef"[byte & 0x0F];
        }
        return hex;
      }()});
  ASSERT_EQ(get("/api/jobs/" +
                std::to_string(JsonDocument::parse(published->body)["id"].get<int>()) + "/image")
                ->body,
            tampered);
  // The first device is unplugged: the map is empty again.
  std::filesystem::remove(dir.file("serialcomm/VCP0"));
  std::filesystem::remove(dir.file("dosdevices/COM10"));
  devices.clear();
  run = station({"--count", "1"}, plugWhen("refused"));
  ASSERT_EQ(run.exitCode, 0) << run.out;
  EXPECT_TRUE(contains(run.out, "restored")) << run.out;
  EXPECT_TRUE(contains(run.out, "does not match")) << run.out;
  // The second device got the last good job, not the tampered one.
  EXPECT_EQ(recordedImages(), (std::vector<std::string>{goodSha, goodSha}));
  EXPECT_TRUE(holdsImage(*devices[0]));
  EXPECT_FALSE(std::filesystem::exists(dir.file("voltrix-jobs/" + sha256Of(next) + ".bin")));
}

TEST_F(JobWire, AQuotaStopsTheStationAfterThatManyVerifiedDevices) {
  startLine();
  ASSERT_EQ(publish(jobImage, sign(jobImage), kEngineer, "2")->status, 201);
  bool stopped = false;
  const auto run = station({}, [&](pid_t pid, const std::string& out) {
    if (devices.empty() && contains(out, "taken: next devices get it")) {
      for (int i = 0; i < 3; ++i) addDevice();
    }
    if (!stopped && contains(out, "quota is reached") && logRecords().size() == 2) {
      stopped = ::kill(pid, SIGTERM) == 0;
    }
  });
  EXPECT_TRUE(stopped) << run.out;
  EXPECT_EQ(recordedImages(), (std::vector<std::string>(2, sha256Of(jobImage)))) << run.out;
  records = jobSegments(0x5A);
  int flashed = 0;
  for (const auto& device : devices) flashed += holdsImage(*device) ? 1 : 0;
  EXPECT_EQ(flashed, 2);
}

TEST_F(JobWire, TrustKeyOptionsAreCheckedBeforeAnyDevice) {
  addDevice();
  struct Case {
    std::vector<std::string> args;
    const char* says;
  } const cases[] = {
      {{"--port", "/dev/null", "--trust-key", dir.file("jobs.pub")}, "needs several devices"},
      {{"--all", "--job-folder", dir.file("kept")}, "--job-folder keeps the jobs"},
      {{"--all", "--trust-key", dir.file("jobs.pub")}, "give --job-folder DIR or --log FILE"},
      {{"--all", "--log", dir.file("station.jsonl"), "--trust-key", dir.file("jobs.key")},
       "jobs.key"},
  };
  for (const Case& c : cases) {
    const auto result = cli(c.args);
    EXPECT_EQ(result.exitCode, 2) << result.out;
    EXPECT_TRUE(contains(result.out, c.says)) << result.out;
  }
  EXPECT_FALSE(devices[0]->endOfRunByte().has_value());
}

}  // namespace
}  // namespace voltrix

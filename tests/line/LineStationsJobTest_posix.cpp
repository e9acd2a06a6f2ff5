// Three stations of simulated devices following one line's signed job: a
// job published reaches each of them, and a job whose image was changed in
// the line's database after it was published reaches none: each refuses it
// and gives its next device the last good job.

#include <httplib.h>

#include <filesystem>

#include "tests/line/LineStations.h"

namespace voltrix {

std::unique_ptr<test::PgCluster> LineStations::cluster;

namespace {

using namespace std::chrono_literals;

constexpr const char* kStations[] = {"line-a", "line-b", "line-c"};

class ThreeStationsJobs : public LineStations {
 protected:
  void SetUp() override {
    LineStations::SetUp();
    const auto made = test::runProcess({VOLTRIX_LINE_PROGRAM, "--keygen", dir.file("jobs")});
    ASSERT_EQ(made.exitCode, 0) << made.out;
    ASSERT_NO_FATAL_FAILURE(startLine({"--trust-key", dir.file("jobs.pub")}));
  }
  // Publishes `records` as an image signed by `voltrix-line --sign`; the
  // job's sha256 as the line computed it.
  std::string publish(const std::vector<ImageRecord>& records, const std::string& file) {
    EXPECT_TRUE(writeImageFile(dir.file(file), buildImage(records)));
    const auto signed_ = test::runProcess(
        {VOLTRIX_LINE_PROGRAM, "--sign", "--key", dir.file("jobs.key"), dir.file(file)});
    EXPECT_EQ(signed_.exitCode, 0) << signed_.out;
    httplib::Client client(url);
    const auto answer =
        client.Post(httplib::append_query_params(
                        "/api/jobs", {{"name", file}, {"signature", linesOf(signed_.out).front()}})
                        .c_str(),
                    {{"Authorization", std::string("Bearer ") + kEngineerToken}},
                    test::readFileBytes(dir.file(file)), "application/octet-stream");
    EXPECT_TRUE(answer && answer->status == 201) << (answer ? answer->body : "no answer");
    return answer ? JsonDocument::parse(answer->body)["sha256"].get<std::string>() : "";
  }
  // One device for `name` alone, plugged in once the station printed `when`:
  // each station watches a device map of its own.
  test::ProcessResult flashOneWhen(const std::string& name, const std::string& when) {
    // The device of an earlier run is unplugged first.
    const std::string map = dir.file("serialcomm-" + name);
    std::filesystem::remove_all(map);
    std::filesystem::create_directories(map);
    std::vector<std::string> args = {VOLTRIX_CLI,
                                     "--watch",
                                     "--count",
                                     "1",
                                     "--station",
                                     name,
                                     "--log",
                                     logOf(name),
                                     "--line",
                                     url,
                                     "--line-token-file",
                                     dir.file("station-token"),
                                     "--trust-key",
                                     dir.file("jobs.pub"),
                                     "--job-folder",
                                     dir.file("jobs-" + name)};
    bool plugged = false;
    const auto onOutput = [&](pid_t, const std::string& out) {
      if (plugged || !contains(out, when)) return;
      const std::string value = "VCP" + std::to_string(devices.size());
      addDeviceAs(value);
      std::filesystem::rename(dir.file("serialcomm/" + value), map + "/" + value);
      plugged = true;
    };
    return runProcess(args,
                      {"VOLTRIX_SERIALCOMM=" + map, "VOLTRIX_DOSDEVICES=" + dir.file("dosdevices")},
                      90s, onOutput);
  }
  std::vector<std::string> imagesLogged(const std::string& name) const {
    std::vector<std::string> images;
    for (const std::string& line : logLines(name)) {
      images.push_back(JsonDocument::parse(line)["image"]["sha256"].get<std::string>());
    }
    return images;
  }
};

TEST_F(ThreeStationsJobs, ASignedJobReachesAllThreeAndATamperedOneReachesNone) {
  std::vector<ImageRecord> good = threeSegments();
  for (ImageRecord& record : good) record.data.back() ^= 0x5A;
  const std::string goodSha = publish(good, "good.bin");
  for (const char* name : kStations) {
    const auto result = flashOneWhen(name, "taken: next devices get it");
    EXPECT_EQ(result.exitCode, 0) << name << ": " << result.out;
    EXPECT_EQ(imagesLogged(name), std::vector<std::string>{goodSha}) << name;
  }

  std::vector<ImageRecord> next = threeSegments();
  for (ImageRecord& record : next) record.data.front() ^= 0x33;
  const std::string nextSha = publish(next, "next.bin");
  std::string tampered = test::readFileBytes(dir.file("next.bin"));
  tampered.back() ^= 0x01;
  std::string hex;
  for (const unsigned char byte : tampered) {
    hex += "0123456789abcdef"[byte >> 4];
    hex += "0123456789abcdef"[byte & 0x0F];
  }
  ASSERT_EQ(query("UPDATE jobs SET image = decode('" + hex + "', 'hex') WHERE current RETURNING id")
                .size(),
            1u);
  for (const char* name : kStations) {
    const auto result = flashOneWhen(name, "refused");
    EXPECT_EQ(result.exitCode, 0) << name << ": " << result.out;
    EXPECT_TRUE(contains(result.out, "the image's hash does not match")) << result.out;
    EXPECT_EQ(imagesLogged(name), (std::vector<std::string>{goodSha, goodSha})) << name;
    EXPECT_FALSE(
        std::filesystem::exists(dir.file("jobs-" + std::string(name) + "/" + nextSha + ".bin")));
  }
  records = good;
  for (const auto& device : devices) EXPECT_TRUE(holdsImage(*device));
  EXPECT_EQ(devices.size(), 6u);
}

}  // namespace
}  // namespace voltrix

// A station that takes signed jobs while it runs simulated devices: a job
// taken during a device's run reaches the next device only, and each record
// names the image its device got; a job that does not check out touches no
// device; the last good job survives a restart; a used-up quota starts no
// new device until the line gives more.

#include <map>
#include <nlohmann/json.hpp>

#include "job/StationJobs.h"
#include "station/StationTargets.h"
#include "tests/station/StationRig_posix.h"

namespace voltrix::test {
namespace {

using Clock = std::chrono::steady_clock;

class StationJobTest : public StationRig {
 protected:
  void SetUp() override {
    StationRig::SetUp();
    KeyFileError error;
    const auto files = writeNewKeyPair(dir.file("line"), error);
    ASSERT_TRUE(files) << error.text;
    secret = *readSecretKey(files->secretFile, error);
    trusted = {*readPublicKey(files->publicFile, error)};
    jobRecords = {{0, 0x4000, std::vector<std::uint8_t>(100, 0xA7), {}, {}},
                  {0, 0x9000, std::vector<std::uint8_t>(70, 0x19), {}, {}}};
    jobImage = buildImage(jobRecords).bytes;
  }

  JobMeta metaOf(const std::vector<std::uint8_t>& image, std::int64_t id = 7) const {
    return {id,          "sysbin.bin", sha256Hex(image), image.size(), signImage(image, secret),
            std::nullopt};
  }
  StationJobs jobsFor(const std::shared_ptr<CurrentImage>& current) const {
    return StationJobs(JobImageStore(dir.file("jobs")), trusted, current, dir.path());
  }
  bool holds(const sim::ZetakSimulator& device, const std::vector<ImageRecord>& image) const {
    for (const ImageRecord& record : image) {
      if (device.memoryRange(static_cast<std::uint32_t>(record.loadAddress),
                             static_cast<std::uint32_t>(record.data.size())) != record.data) {
        return false;
      }
    }
    return true;
  }
  // The image sha256 of each record of the log, by the device's port.
  std::map<std::string, std::string> loggedImages() const {
    std::map<std::string, std::string> hashes;
    for (const std::string& line : linesOf(readFileBytes(dir.file("station.jsonl")))) {
      const nlohmann::json record = nlohmann::json::parse(line);
      hashes[record["port"].get<std::string>()] = record["image"]["sha256"].get<std::string>();
    }
    return hashes;
  }

  SecretKey secret;
  std::vector<PublicKey> trusted;
  std::vector<ImageRecord> jobRecords;
  std::vector<std::uint8_t> jobImage;
};

TEST_F(StationJobTest, AJobTakenDuringARunReachesTheNextDeviceOnly) {
  sim::ZetakSimulator& first = plug(slow());
  auto current = std::make_shared<CurrentImage>();
  StationJobs jobs = jobsFor(current);
  StationPlan watching = plan();
  watching.watch = true;
  watching.count = 2;
  watching.currentImage = current;
  Station station(watching, events);
  std::thread runner([&] { station.run(); });
  ASSERT_TRUE(events.waitFor([&] { return !events.started.empty(); }));
  const std::string oldHash = events.look([&] { return events.startedWith->imageSha256; });

  // A job whose bytes were changed on the way is refused; the one as
  // signed is taken while the first device is still being written.
  std::vector<std::uint8_t> damaged = jobImage;
  damaged[40] ^= 0xFF;
  const JobOffer refused = jobs.offerJob(damaged, metaOf(jobImage));
  EXPECT_EQ(refused.outcome, JobOffer::Outcome::Refused);
  EXPECT_EQ(refused.check, JobCheck::HashMismatch);
  EXPECT_EQ(refused.text, "job sysbin.bin refused: the image's hash does not match");
  EXPECT_NE(current->image()->sha256, sha256Hex(jobImage));
  const JobOffer taken = jobs.offerJob(jobImage, metaOf(jobImage));
  EXPECT_EQ(taken.outcome, JobOffer::Outcome::Taken) << taken.text;
  const std::string newHash = sha256Hex(jobImage);
  EXPECT_EQ(taken.text, "job sysbin.bin (" + newHash.substr(0, 8) + ") taken: next devices get it");
  EXPECT_EQ(jobs.offerJob(jobImage, metaOf(jobImage)).outcome, JobOffer::Outcome::AlreadyCurrent);
  ASSERT_TRUE(events.waitFor([&] { return events.jobs.size() == 2; }));
  EXPECT_TRUE(events.look([&] { return events.finished.empty(); }))
      << "the first device finished before the swap: the test proves nothing";

  sim::ZetakSimulator& second = plug();
  runner.join();
  ASSERT_TRUE(events.end);
  EXPECT_EQ(events.end->verified, 2);
  EXPECT_TRUE(holdsImage(first));
  EXPECT_FALSE(holds(first, jobRecords));
  EXPECT_TRUE(holds(second, jobRecords));
  // The slow first device finishes last: its record still names the old image.
  EXPECT_EQ(loggedImages(), (std::map<std::string, std::string>{{first.devicePath(), oldHash},
                                                                {second.devicePath(), newHash}}));
  ASSERT_EQ(events.jobs.size(), 2u);
  EXPECT_EQ(events.jobs[0].kind, StationJobNotice::Kind::Refused);
  EXPECT_EQ(events.jobs[1].kind, StationJobNotice::Kind::Taken);
  EXPECT_EQ(events.jobs[1].jobId, 7);
  EXPECT_EQ(events.jobs[1].sha256, newHash);
}

TEST_F(StationJobTest, TheLastGoodJobIsWhatARestartedStationStartsWith) {
  {
    auto current = std::make_shared<CurrentImage>();
    StationJobs jobs = jobsFor(current);
    ASSERT_EQ(jobs.offerJob(jobImage, metaOf(jobImage)).outcome, JobOffer::Outcome::Taken);
    // A signed image that is no device's image is never taken.
    const std::vector<std::uint8_t> junk(64, 0xEE);
    const JobOffer unusable = jobs.offerJob(junk, metaOf(junk, 8));
    EXPECT_EQ(unusable.outcome, JobOffer::Outcome::Unusable);
    EXPECT_NE(unusable.refusal, Refusal::None);
    EXPECT_EQ(current->image()->sha256, sha256Hex(jobImage));
    EXPECT_FALSE(fileExists(dir.file("jobs/" + sha256Hex(junk) + ".bin")));
  }
  // The station's process starts again: the job is restored from the disk.
  auto current = std::make_shared<CurrentImage>();
  const StationJobsSetup setup =
      openStationJobs({dir.file("line.pub")}, dir.file("jobs"), current, dir.path());
  ASSERT_TRUE(setup.jobs) << setup.error;
  const auto& restored = setup.restored;
  ASSERT_TRUE(restored);
  EXPECT_EQ(restored->outcome, JobOffer::Outcome::Taken) << restored->text;
  const sim::ZetakSimulator& device = plug();
  StationPlan given = plan();
  given.targets = targetsOfPorts({device.devicePath()}, {});
  given.currentImage = current;
  Station station(given, events);
  EXPECT_EQ(station.run(), 0);
  EXPECT_TRUE(holds(device, jobRecords));
  ASSERT_TRUE(events.startedWith);
  EXPECT_EQ(events.startedWith->imageSha256, sha256Hex(jobImage));
  ASSERT_EQ(events.jobs.size(), 1u);
  EXPECT_EQ(events.jobs[0].kind, StationJobNotice::Kind::Restored);

  // Without the key that signed it, the kept job is not used again.
  auto untrusting = std::make_shared<CurrentImage>();
  StationJobs strict(JobImageStore(dir.file("jobs")), {}, untrusting, dir.path());
  const auto refused = strict.restore();
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->outcome, JobOffer::Outcome::Unusable);
  EXPECT_FALSE(untrusting->image());
}

TEST_F(StationJobTest, AUsedUpQuotaStartsNoNewDeviceUntilTheLineGivesMore) {
  sim::ZetakSimulator& first = plug();
  auto current = std::make_shared<CurrentImage>();
  StationJobs jobs = jobsFor(current);
  JobMeta meta = metaOf(jobImage);
  meta.remaining = 1;
  ASSERT_EQ(jobs.offerJob(jobImage, meta).outcome, JobOffer::Outcome::Taken);
  StationPlan watching = plan();
  watching.watch = true;
  watching.count = 2;
  watching.currentImage = current;
  Station station(watching, events);
  std::thread runner([&] { station.run(); });
  ASSERT_TRUE(events.waitFor([&] { return !events.finished.empty(); }));
  EXPECT_EQ(current->remaining(), std::optional<std::int64_t>(0));
  sim::ZetakSimulator& second = plug();
  const auto plugged = Clock::now();
  // The station looks at the map at least once a second: after two, the
  // second device has been seen and left alone.
  const bool held = events.waitFor([&] {
    return !events.passes.empty() &&
           events.passes.back().second > plugged + std::chrono::milliseconds(2000);
  });
  EXPECT_TRUE(held);
  EXPECT_TRUE(events.look([&] { return events.passes.back().first.quotaReached; }));
  EXPECT_TRUE(second.bytesFromHost().empty());
  jobs.setRemaining(5);
  runner.join();
  EXPECT_TRUE(holds(first, jobRecords));
  EXPECT_TRUE(holds(second, jobRecords));
  EXPECT_EQ(current->remaining(), std::optional<std::int64_t>(4));
}

}  // namespace
}  // namespace voltrix::test

#include "job/StationJobs.h"

#include "station/StationImage.h"

namespace voltrix {

namespace {

std::string shortHash(const std::string& sha256) {
  return sha256.substr(0, 8);
}

StationJobNotice noticeOf(StationJobNotice::Kind kind, const JobMeta& meta, std::string text) {
  return {kind, meta.id, meta.name, meta.sha256, std::move(text)};
}

}  // namespace

std::optional<std::vector<PublicKey>> readTrustedKeys(const std::vector<std::string>& files,
                                                      std::string& error) {
  std::vector<PublicKey> keys;
  for (const std::string& file : files) {
    KeyFileError keyError;
    auto key = readPublicKey(file, keyError);
    if (!key) {
      error = "--trust-key " + keyError.text;
      return std::nullopt;
    }
    keys.push_back(std::move(*key));
  }
  return keys;
}

StationJobsSetup openStationJobs(const std::vector<std::string>& trustKeyFiles,
                                 const std::string& folder, std::shared_ptr<CurrentImage> current,
                                 const std::string& runFolders) {
  StationJobsSetup setup;
  std::optional<std::vector<PublicKey>> keys = readTrustedKeys(trustKeyFiles, setup.error);
  if (!keys) return setup;
  setup.jobs = std::make_unique<StationJobs>(JobImageStore(folder), std::move(*keys),
                                             std::move(current), runFolders);
  setup.restored = setup.jobs->restore();
  return setup;
}

StationJobs::StationJobs(JobImageStore store, std::vector<PublicKey> trustedKeys,
                         std::shared_ptr<CurrentImage> current, std::string runFolders)
    : store_(std::move(store)),
      trustedKeys_(std::move(trustedKeys)),
      current_(std::move(current)),
      runFolders_(std::move(runFolders)) {}

void StationJobs::setRemaining(std::optional<std::int64_t> remaining) {
  current_->setRemaining(remaining);
}

JobOffer StationJobs::refuse(const JobMeta& meta, JobOffer offer) {
  offer.text = "job " + meta.name + " refused: " + offer.text;
  current_->tell(noticeOf(StationJobNotice::Kind::Refused, meta, offer.text));
  return offer;
}

std::optional<JobOffer> StationJobs::restore() {
  const std::lock_guard lock(offering_);
  JobImageStore::Restored restored = store_.restore(trustedKeys_);
  if (!restored.meta) {
    if (restored.problem.empty()) return std::nullopt;
    JobOffer offer;
    offer.outcome = JobOffer::Outcome::Unusable;
    offer.text = "the last good job is not used again: " + restored.problem;
    JobMeta unknown;
    unknown.name = "kept on the disk";
    current_->tell(noticeOf(StationJobNotice::Kind::Refused, unknown, offer.text));
    return offer;
  }
  return take(restored.bytes, *restored.meta, StationJobNotice::Kind::Restored);
}

JobOffer StationJobs::offerJob(std::span<const std::uint8_t> bytes, const JobMeta& meta) {
  if (!isSha256Hex(meta.sha256)) {
    return refuse(meta, {JobOffer::Outcome::Refused,
                         JobCheck::Malformed,
                         {},
                         "the job's sha256 is not 64 hex digits"});
  }
  const JobVerdict verdict = verifyJob(bytes, meta.size, meta.sha256, meta.signature, trustedKeys_);
  if (!verdict.ok())
    return refuse(meta, {JobOffer::Outcome::Refused, verdict.check, {}, verdict.text});
  const std::lock_guard lock(offering_);
  // The same image again (the line polled, or republished it with another
  // quota): only the quota changes.
  if (const auto inUse = current_->image();
      inUse && inUse->sha256 == meta.sha256 && taken_ == meta.sha256) {
    current_->setRemaining(meta.remaining);
    return {JobOffer::Outcome::AlreadyCurrent, JobCheck::Ok, Refusal::None,
            "job " + meta.name + " (" + shortHash(meta.sha256) + ") is the one in use"};
  }
  return take(bytes, meta, StationJobNotice::Kind::Taken);
}

JobOffer StationJobs::take(std::span<const std::uint8_t> bytes, const JobMeta& meta,
                           StationJobNotice::Kind kind) {
  std::string error;
  const std::optional<std::string> path = store_.writeImage(bytes, meta, error);
  if (!path) {
    return refuse(meta, {JobOffer::Outcome::Unusable, JobCheck::Ok, Refusal::None,
                         "it cannot be kept: " + error});
  }
  // Read as DOWNLOAD reads an image: a signed image that is no image of a
  // device is refused here, before any device sees it.
  StationImageLoad load = loadStationImage(*path, runFolders_);
  if (load.refusal != Refusal::None) {
    store_.forget(meta);
    std::string why = "its image cannot be used (" + std::string(refusalText(load.refusal)) + ")";
    if (!load.hint.empty()) why += ": " + load.hint;
    return refuse(meta, {JobOffer::Outcome::Unusable, JobCheck::Ok, load.refusal, why});
  }
  if (!store_.remember(meta, error)) {
    store_.forget(meta);
    return refuse(meta, {JobOffer::Outcome::Unusable, JobCheck::Ok, Refusal::None,
                         "it cannot be kept: " + error});
  }
  const std::string text = "job " + meta.name + " (" + shortHash(meta.sha256) + ") " +
                           (kind == StationJobNotice::Kind::Restored ? "restored" : "taken") +
                           ": next devices get it";
  // The quota goes with the image it counts.
  current_->swap(std::move(load.image), meta.remaining, noticeOf(kind, meta, text));
  taken_ = meta.sha256;
  return {JobOffer::Outcome::Taken, JobCheck::Ok, Refusal::None, text};
}

}  // namespace voltrix

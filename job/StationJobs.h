#pragma once
// A station's side of signed jobs: a job offered (by whatever fetched it
// from the line) is checked with the keys the station trusts, kept on the
// disk, read as DOWNLOAD reads an image, and only then made the image the
// next devices get. A job that fails any of this touches no device and
// leaves the image in use as it was. What happened goes to the station's
// observers through the current image.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/Refusal.h"
#include "job/JobImageStore.h"
#include "station/CurrentImage.h"

namespace voltrix {

struct JobOffer {
  enum class Outcome {
    Taken,           // the next devices get it
    AlreadyCurrent,  // the image in use is this job's: nothing changed
    Refused,         // it did not check out (see `check`)
    Unusable,        // it checked out, but its image cannot be used or kept
  } outcome = Outcome::Refused;
  JobCheck check = JobCheck::Ok;
  Refusal refusal = Refusal::None;  // for Unusable: what reading it refused
  std::string text;                 // as told to the observers
};

// The station's --trust-key files, read; empty with `error` naming the
// option and the file that is wrong.
std::optional<std::vector<PublicKey>> readTrustedKeys(const std::vector<std::string>& files,
                                                      std::string& error);

class StationJobs {
 public:
  // `runFolders` as in the station's plan.
  StationJobs(JobImageStore store, std::vector<PublicKey> trustedKeys,
              std::shared_ptr<CurrentImage> current, std::string runFolders);

  // At the start: the last good job kept on the disk, checked again, is
  // put in use. Empty when there is none; otherwise as an offer.
  std::optional<JobOffer> restore();

  // From any thread: checks, keeps and swaps in a job. The same job offered
  // again (the line is asked every so often) changes only the quota.
  JobOffer offerJob(std::span<const std::uint8_t> bytes, const JobMeta& meta);

  // The line's count of devices the current job may still verify.
  void setRemaining(std::optional<std::int64_t> remaining);

 private:
  JobOffer take(std::span<const std::uint8_t> bytes, const JobMeta& meta,
                StationJobNotice::Kind kind);
  JobOffer refuse(const JobMeta& meta, JobOffer offer);

  std::mutex offering_;  // one offer at a time: they share the store's files
  std::string taken_;    // the sha256 of the job this object last put in use
  JobImageStore store_;
  std::vector<PublicKey> trustedKeys_;
  std::shared_ptr<CurrentImage> current_;
  std::string runFolders_;
};

// A station's jobs as its options ask: the --trust-key files read, the
// kept images in `folder`, and the last good job put in `current` (the
// plan's currentImage) before the station starts.
struct StationJobsSetup {
  std::unique_ptr<StationJobs> jobs;  // null when a key file is wrong
  std::optional<JobOffer> restored;   // what became of the last good job, if any
  std::string error;                  // "--trust-key FILE: ..." when `jobs` is null
};
StationJobsSetup openStationJobs(const std::vector<std::string>& trustKeyFiles,
                                 const std::string& folder, std::shared_ptr<CurrentImage> current,
                                 const std::string& runFolders);

}  // namespace voltrix

#include "cli/StationJobSetup.h"

#include <algorithm>

#include "job/JobMetaJson.h"
#include "job/StationJobs.h"

namespace voltrix::cli {

bool signedJobsBuilt() {
  return true;
}

OpenedJobs openJobsOf(const CliOptions& options, StationPlan& plan) {
  OpenedJobs opened;
  if (options.trustKeys.empty()) return opened;
  if (!plan.currentImage) plan.currentImage = std::make_shared<CurrentImage>();
  StationJobsSetup setup =
      openStationJobs(options.trustKeys, options.jobFolder, plan.currentImage, plan.runFolders);
  if (!setup.jobs) {
    opened.error = setup.error;
    return opened;
  }
  opened.jobs = std::move(setup.jobs);
  return opened;
}

uplink::JobFollowerHooks followerHooksOf(std::shared_ptr<StationJobs> jobs,
                                         std::shared_ptr<CurrentImage> current) {
  uplink::JobFollowerHooks hooks;
  // The id of the job whose count the station goes by; the hooks run on the
  // follower's thread alone.
  auto counted = std::make_shared<std::optional<std::int64_t>>();
  hooks.wants = [jobs, current, counted](const std::string& body) {
    std::string error;
    const std::optional<JobMeta> meta = jobMetaOfJson(body, error);
    if (!meta) return false;
    // The image in use already: only its quota may have changed.
    if (const auto inUse = current->image(); inUse && inUse->sha256 == meta->sha256) {
      // The line counts a device once the station's record reached it: for
      // the same job its count may lag behind the station's own, which has
      // counted down since, and the smaller one holds. Another job (the
      // same image published again) brings its own count.
      std::optional<std::int64_t> remaining = meta->remaining;
      if (*counted == meta->id && remaining && current->remaining()) {
        remaining = std::min(*remaining, *current->remaining());
      }
      *counted = meta->id;
      jobs->setRemaining(remaining);
      return false;
    }
    return true;
  };
  hooks.offer = [jobs, counted](const std::string& body, const std::string& image) {
    std::string error;
    const std::optional<JobMeta> meta = jobMetaOfJson(body, error);
    if (!meta) return false;
    const JobOffer offer =
        jobs->offerJob({reinterpret_cast<const std::uint8_t*>(image.data()), image.size()}, *meta);
    // A refused job leaves the image in use with its own quota.
    if (offer.outcome != JobOffer::Outcome::Taken &&
        offer.outcome != JobOffer::Outcome::AlreadyCurrent) {
      return false;
    }
    *counted = meta->id;
    return true;
  };
  return hooks;
}

}  // namespace voltrix::cli

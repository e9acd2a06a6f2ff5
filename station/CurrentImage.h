#pragma once
// The image a station gives its next device, which a job taken while the
// station runs replaces. The station reads it once as each device's run
// starts, so a device keeps the image it was given to the end of its run
// and its record names that image; a swap reaches the next device only.
// Any thread may swap, tell or set the quota; the station's thread reads.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "station/StationImage.h"

namespace voltrix {

// What happened to a job offered to the station, told to its observers on
// the station's thread.
struct StationJobNotice {
  enum class Kind {
    Taken,     // the next devices get the job's image
    Restored,  // the last good job, kept on the disk, is in use again
    Refused,   // the job did not check out: the image in use stays
  } kind = Kind::Taken;
  std::int64_t jobId = 0;
  std::string jobName;
  std::string sha256;  // of the job's image, as offered
  // The whole sentence ("job sysbin.bin (1a2b3c4d) taken: next devices get it").
  std::string text;
};

class CurrentImage {
 public:
  explicit CurrentImage(std::shared_ptr<const StationImage> image = nullptr);

  std::shared_ptr<const StationImage> image() const;
  void setImage(std::shared_ptr<const StationImage> image);
  // Sets the image the next device gets and its quota (see setRemaining)
  // at once, and tells what happened.
  void swap(std::shared_ptr<const StationImage> image, std::optional<std::int64_t> remaining,
            StationJobNotice notice);
  void tell(StationJobNotice notice);
  std::vector<StationJobNotice> takeNotices();

  // How many more devices the image may verify; empty for no limit.
  void setRemaining(std::optional<std::int64_t> remaining);
  std::optional<std::int64_t> remaining() const;
  // A device verified with the image of `sha256`: one fewer remains when it
  // is the current one's.
  void countVerified(const std::string& sha256);

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const StationImage> image_;
  std::optional<std::int64_t> remaining_;
  std::vector<StationJobNotice> notices_;
};

// `image` with its run folders made in `runFolders`: itself when they are
// there already, a copy otherwise.
std::shared_ptr<const StationImage> imageWithRunFolders(std::shared_ptr<const StationImage> image,
                                                        const std::string& runFolders);

}  // namespace voltrix

#include "station/CurrentImage.h"

#include <utility>

namespace voltrix {

CurrentImage::CurrentImage(std::shared_ptr<const StationImage> image) : image_(std::move(image)) {}

std::shared_ptr<const StationImage> CurrentImage::image() const {
  const std::lock_guard lock(mutex_);
  return image_;
}

void CurrentImage::setImage(std::shared_ptr<const StationImage> image) {
  const std::lock_guard lock(mutex_);
  image_ = std::move(image);
}

void CurrentImage::swap(std::shared_ptr<const StationImage> image,
                        std::optional<std::int64_t> remaining, StationJobNotice notice) {
  const std::lock_guard lock(mutex_);
  image_ = std::move(image);
  remaining_ = remaining;
  notices_.push_back(std::move(notice));
}

void CurrentImage::tell(StationJobNotice notice) {
  const std::lock_guard lock(mutex_);
  notices_.push_back(std::move(notice));
}

std::vector<StationJobNotice> CurrentImage::takeNotices() {
  const std::lock_guard lock(mutex_);
  return std::exchange(notices_, {});
}

void CurrentImage::setRemaining(std::optional<std::int64_t> remaining) {
  const std::lock_guard lock(mutex_);
  remaining_ = remaining;
}

std::optional<std::int64_t> CurrentImage::remaining() const {
  const std::lock_guard lock(mutex_);
  return remaining_;
}

void CurrentImage::countVerified(const std::string& sha256) {
  const std::lock_guard lock(mutex_);
  if (remaining_ && *remaining_ > 0 && image_ && image_->sha256 == sha256) --*remaining_;
}

std::shared_ptr<const StationImage> imageWithRunFolders(std::shared_ptr<const StationImage> image,
                                                        const std::string& runFolders) {
  if (!image || image->runFolders == runFolders) return image;
  auto own = std::make_shared<StationImage>(*image);
  own->runFolders = runFolders;
  return own;
}

}  // namespace voltrix

#include "control/RunProgress.h"

#include <algorithm>

namespace voltrix {

namespace {

std::uint32_t lengthAt(const DownloadState& state, int index) {
  return static_cast<std::uint32_t>(
      std::max(state.segmentLengths[static_cast<std::size_t>(index)], 0));
}

}  // namespace

void RunProgress::follow(const DownloadState& state) {
  if (segmentCount_ == 0) {
    segmentCount_ = std::clamp(state.segmentCount.load(), 0, MAX_SEGMENTS);
    for (int i = 0; i < segmentCount_; ++i) total_ += 2ull * lengthAt(state, i);
  }
  if (segment_ == 0 && segmentCount_ > 0) segment_ = 1;
  if (segment_ >= 1 && segment_ <= segmentCount_) {
    address_ =
        static_cast<std::uint32_t>(state.segmentAddresses[static_cast<std::size_t>(segment_ - 1)]);
    length_ = lengthAt(state, segment_ - 1);
  }
}

void RunProgress::see(const WorkerMessage& message, const DownloadState& state) {
  follow(state);
  // A block's progress names the block about to go; the address lies in the
  // segment, so the offset is at most its length (clamped all the same).
  const auto offsetOf = [this](std::uint32_t blockAddress) -> std::uint64_t {
    return std::min<std::uint32_t>(blockAddress - address_, length_);
  };
  switch (message.id) {
    case UWM_WRITE_PROGRESS:
      phase_ = offsetOf(message.wParam);
      break;
    case UWM_WRITE_DONE:
      phase_ = length_;
      break;
    case UWM_VERIFY_PROGRESS:
      phase_ = length_ + offsetOf(message.wParam);
      break;
    case UWM_VERIFY_DONE:
      phase_ = 2ull * length_;
      readBackDone_ = true;
      break;
    case UWM_SEGMENT_OK:
      // The write of a segment with a short last block reports success too;
      // only the one after the read-back ends the segment.
      if (!readBackDone_) {
        phase_ = length_;
        break;
      }
      readBackDone_ = false;
      done_ += 2ull * length_;
      phase_ = 0;
      if (segment_ < segmentCount_) ++segment_;
      follow(state);
      break;
    default:
      break;
  }
}

int RunProgress::percent() const {
  if (total_ == 0) return 0;
  return static_cast<int>(std::min<std::uint64_t>((done_ + phase_) * 100 / total_, 100));
}

}  // namespace voltrix

#include "link/BlockFiles.h"

#include <algorithm>
#include <cstring>

namespace voltrix {

long long BlockSource::read(std::uint8_t* block, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    if (begin_ == end_) {
      if (ended_) break;
      if (failed_) return -1;
      const long long got = file_.readFully(buffer_.data(), buffer_.size());
      begin_ = end_ = 0;
      if (got < 0) {
        failed_ = true;
        if (done == 0) return -1;
        break;
      }
      end_ = static_cast<std::size_t>(got);
      ended_ = end_ < buffer_.size();
      if (end_ == 0) break;
    }
    const std::size_t taken = std::min(length - done, end_ - begin_);
    std::memcpy(block + done, buffer_.data() + begin_, taken);
    begin_ += taken;
    done += taken;
  }
  return static_cast<long long>(done);
}

bool BlockSink::write(const std::uint8_t* block, std::size_t length) {
  if (failed_) return false;
  std::size_t done = 0;
  while (done < length) {
    if (used_ == buffer_.size() && !flush()) return false;
    const std::size_t taken = std::min(length - done, buffer_.size() - used_);
    std::memcpy(buffer_.data() + used_, block + done, taken);
    used_ += taken;
    done += taken;
  }
  return true;
}

bool BlockSink::flush() {
  if (failed_) return false;
  if (used_ == 0) return true;
  failed_ = !file_.writeFully(buffer_.data(), used_);
  used_ = 0;
  return !failed_;
}

}  // namespace voltrix

#include "engine/FileIo.h"

#include <utility>

namespace voltrix {

File::File(File&& other) noexcept : handle_(std::exchange(other.handle_, kNoHandle)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, kNoHandle);
  }
  return *this;
}

bool File::isOpen() const {
  return handle_ != kNoHandle;
}

}  // namespace voltrix

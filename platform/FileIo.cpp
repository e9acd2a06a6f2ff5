#include "platform/FileIo.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "platform/Utf8Path.h"

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

bool removeFolder(const std::string& name) {
  std::error_code error;
  std::filesystem::remove_all(pathFromUtf8(name), error);
  return !error;
}

}  // namespace voltrix

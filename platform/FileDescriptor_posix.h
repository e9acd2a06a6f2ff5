#pragma once
// Owns one POSIX file descriptor and closes it on every path; whole reads
// and writes on a descriptor that survive EINTR and short transfers.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <utility>

namespace voltrix {

class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  explicit operator bool() const { return valid(); }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// Reads until `length` bytes arrived or the end came; -1 on a read error.
long long readFully(int fd, std::uint8_t* buffer, std::size_t length);
// Writes all `length` bytes; false on any error.
bool writeFully(int fd, const std::uint8_t* buffer, std::size_t length);

}  // namespace voltrix

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/FileDescriptor_posix.h"
#include "platform/FileIo.h"

namespace voltrix {

namespace {

int descriptorOf(std::intptr_t handle) {
  return static_cast<int>(handle);
}

}  // namespace

std::optional<std::uint64_t> File::size() const {
  struct stat info {};
  if (!isOpen() || ::fstat(descriptorOf(handle_), &info) != 0 || info.st_size < 0) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(info.st_size);
}

bool File::seek(std::uint64_t offset) {
  if (!isOpen() || offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
  return ::lseek(descriptorOf(handle_), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

long long File::readFully(std::uint8_t* buffer, std::size_t length) {
  if (!isOpen()) return -1;
  return voltrix::readFully(descriptorOf(handle_), buffer, length);
}

bool File::writeFully(const std::uint8_t* buffer, std::size_t length) {
  return isOpen() && voltrix::writeFully(descriptorOf(handle_), buffer, length);
}

void File::close() {
  if (isOpen()) ::close(descriptorOf(handle_));
  handle_ = kNoHandle;
}

File openForReading(const std::string& name) {
  // Without O_NONBLOCK, opening a FIFO planted under the name would wait for
  // a writer for ever, and without O_NOCTTY a terminal could become ours.
  // Only regular files get through, and for them the flag is cleared again.
  FileDescriptor fd(::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) return File();
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return File();
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return File();
  return File(fd.release());
}

File createFreshFile(const std::string& name) {
  if (!removeFile(name)) return File();
  // O_EXCL with O_CREAT refuses to follow a link that appears under the name
  // between the unlink and the open.
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  return fd >= 0 ? File(fd) : File();
}

bool removeFile(const std::string& name) {
  return ::unlink(name.c_str()) == 0 || errno == ENOENT;
}

std::optional<std::string> createPrivateFolder(const std::string& prefix) {
  std::string pattern = prefix + "XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  // mkdtemp makes the folder with mode 0700 under a name no one else has.
  if (::mkdtemp(name.data()) == nullptr) return std::nullopt;
  return std::string(name.data());
}

long long readFully(int fd, std::uint8_t* buffer, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    const ssize_t got = ::read(fd, buffer + done, length - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<long long>(done);
}

bool writeFully(int fd, const std::uint8_t* buffer, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    const ssize_t put = ::write(fd, buffer + done, length - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(put);
  }
  return true;
}

}  // namespace voltrix

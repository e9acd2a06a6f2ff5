#include "engine/FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace voltrix {

FileDescriptor openForReading(const std::string& name) {
  // Without O_NONBLOCK, opening a FIFO planted under the name would wait for
  // a writer for ever, and without O_NOCTTY a terminal could become ours.
  // Only regular files get through, and for them the flag is cleared again.
  FileDescriptor fd(::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) return fd;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return FileDescriptor();
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return FileDescriptor();
  return fd;
}

FileDescriptor createFreshFile(const std::string& name) {
  if (::unlink(name.c_str()) != 0 && errno != ENOENT) return FileDescriptor();
  // O_EXCL with O_CREAT refuses to follow a link that appears under the name
  // between the unlink and the open.
  return FileDescriptor(
      ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
}

long long readFully(int fd, std::uint8_t* buffer, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    ssize_t got = ::read(fd, buffer + done, length - done);
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
    ssize_t put = ::write(fd, buffer + done, length - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(put);
  }
  return true;
}

}  // namespace voltrix

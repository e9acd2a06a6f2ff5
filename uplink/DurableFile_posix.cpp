#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/FileDescriptor_posix.h"
#include "uplink/DurableFile.h"

namespace voltrix::uplink {

namespace {

std::string folderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool replaceFileDurably(const std::string& path, const std::string& bytes, std::string& error) {
  const std::string temporary = path + ".tmp";
  const auto fail = [&](const char* what) {
    error = std::string(what) + " " + temporary + ": " + std::strerror(errno);
    ::unlink(temporary.c_str());
    return false;
  };
  {
    FileDescriptor fd(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!fd) return fail("cannot create");
    std::size_t written = 0;
    while (written < bytes.size()) {
      const ssize_t count = ::write(fd.get(), bytes.data() + written, bytes.size() - written);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) return fail("cannot write");
      written += static_cast<std::size_t>(count);
    }
    if (::fsync(fd.get()) != 0) return fail("cannot sync");
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) return fail("cannot rename");
  // The rename itself is kept once the folder is synced.
  FileDescriptor folder(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder) ::fsync(folder.get());
  return true;
}

}  // namespace voltrix::uplink

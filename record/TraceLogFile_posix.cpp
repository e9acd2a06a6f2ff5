#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/FileDescriptor_posix.h"
#include "record/TraceLogFile.h"

namespace voltrix {

namespace {

std::string systemError(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

// A file just created is only durable once its directory entry is.
void syncDirectoryOf(const std::string& path) {
  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (folder.empty()) folder = ".";
  const FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd) ::fsync(fd.get());
}

bool lastByteIsNotLineBreak(int fd, off_t size) {
  if (size == 0) return false;
  char last = '\n';
  return ::pread(fd, &last, 1, size - 1) == 1 && last != '\n';
}

// A record is whole in the log or absent: a strict JSON Lines reader fails
// on the whole file for one torn line. The append left the offset just past
// the piece it wrote; cut the file back to where the piece began, unless
// another writer has appended since (its record must not be cut away).
bool undoShortWrite(int fd, off_t written) {
  const off_t end = ::lseek(fd, 0, SEEK_CUR);
  struct stat info {};
  if (end < written || ::fstat(fd, &info) != 0 || info.st_size != end) return false;
  int result = -1;
  do {
    result = ::ftruncate(fd, end - written);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

}  // namespace

TraceLogFile::~TraceLogFile() {
  ::close(static_cast<int>(handle_));
}

std::unique_ptr<TraceLogFile> TraceLogFile::open(const std::string& path, std::string& error) {
  constexpr int kAppend = O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  bool created = true;
  FileDescriptor fd(::open(path.c_str(), kAppend | O_CREAT | O_EXCL, 0644));
  if (!fd && errno == EEXIST) {
    created = false;
    fd.reset(::open(path.c_str(), kAppend));
  }
  if (!fd) {
    error = systemError("cannot open the log " + path, errno);
    return nullptr;
  }
  // Not blocking was for the open of a pipe without a reader; a regular
  // file's writes never block on it.
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    error = "the log " + path + " is not a regular file";
    return nullptr;
  }
  // Read back the last byte through a second descriptor: the append-only one
  // cannot read.
  bool endsInsideLine = false;
  const FileDescriptor reader(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (reader) endsInsideLine = lastByteIsNotLineBreak(reader.get(), info.st_size);
  if (created) syncDirectoryOf(path);
  return std::make_unique<TraceLogFile>(Key(), fd.release(), path, endsInsideLine);
}

TraceLogFile::Append TraceLogFile::append(const std::string& bytes, std::string& error) {
  const int fd = static_cast<int>(handle_);
  ssize_t written = -1;
  // Only a write that took nothing may be tried again.
  do {
    written = ::write(fd, bytes.data(), bytes.size());
  } while (written < 0 && errno == EINTR);
  if (written < 0) {
    error = systemError("cannot write to the log", errno);
    return Append::NothingWritten;
  }
  if (static_cast<std::size_t>(written) != bytes.size()) {
    error = "the log took only " + std::to_string(written) + " of " + std::to_string(bytes.size()) +
            " bytes of a record (disk full?)";
    return undoShortWrite(fd, static_cast<off_t>(written)) ? Append::NothingWritten : Append::Torn;
  }
  if (::fdatasync(fd) != 0) {
    error = systemError("the log could not be written to the disk", errno);
    return Append::Unsynced;
  }
  return Append::Whole;
}

std::string hostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "unknown";
  return name;
}

}  // namespace voltrix

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/DurableFile.h"
#include "platform/FileDescriptor_posix.h"
#include "platform/FileIo.h"

namespace voltrix {

namespace {

std::string folderOf(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

std::string failed(const std::string& path, const char* doing) {
  return "cannot write " + path + ": " + doing + ": " + std::strerror(errno);
}

}  // namespace

bool writeFileDurably(const std::string& path, std::span<const std::uint8_t> bytes, unsigned mode,
                      Replace replace, std::string& error) {
  std::string temporary = path + ".tmp-XXXXXX";
  // mkstemp makes the file for this user alone; the mode asked for is set
  // before a byte of a secret is in it.
  FileDescriptor fd(::mkstemp(temporary.data()));
  if (!fd) {
    error = failed(path, "cannot create a temporary file beside it");
    return false;
  }
  const auto giveUp = [&](const char* doing) {
    error = failed(path, doing);
    const int cause = errno;
    ::unlink(temporary.c_str());
    errno = cause;
    return false;
  };
  if (::fchmod(fd.get(), static_cast<mode_t>(mode)) != 0) return giveUp("cannot set its mode");
  if (!writeFully(fd.get(), bytes.data(), bytes.size())) return giveUp("cannot write its bytes");
  if (::fsync(fd.get()) != 0) return giveUp("cannot flush it to the disk");
  fd.reset();
  if (replace == Replace::Allowed) {
    if (::rename(temporary.c_str(), path.c_str()) != 0)
      return giveUp("cannot rename it into place");
  } else {
    // A hard link fails when the name is taken, where rename would replace
    // what stands there.
    if (::link(temporary.c_str(), path.c_str()) != 0) {
      if (errno == EEXIST) {
        ::unlink(temporary.c_str());
        error = "cannot write " + path + ": a file is already there (it is left as it is)";
        return false;
      }
      return giveUp("cannot link it into place");
    }
    ::unlink(temporary.c_str());
  }
  // The new name itself is on the disk once the folder is.
  if (FileDescriptor folder(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      folder) {
    ::fsync(folder.get());
  }
  return true;
}

std::optional<std::vector<std::uint8_t>> readFileWhole(const std::string& path, std::uint64_t limit,
                                                       std::string& error) {
  File file = openForReading(path);
  if (!file) {
    error = "cannot read " + path + ": " + std::strerror(errno ? errno : ENOENT);
    return std::nullopt;
  }
  const std::optional<std::uint64_t> length = file.size();
  if (!length) {
    error = "cannot read " + path + ": its size cannot be told";
    return std::nullopt;
  }
  if (*length > limit) {
    error = "cannot read " + path + ": it is larger than " + std::to_string(limit) + " bytes";
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(*length));
  if (file.readFully(bytes.data(), bytes.size()) != static_cast<long long>(bytes.size())) {
    error = "cannot read " + path + ": a read failed or it shrank";
    return std::nullopt;
  }
  return bytes;
}

}  // namespace voltrix

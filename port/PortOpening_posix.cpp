#include "port/PortOpening_posix.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "port/DeviceGone_posix.h"

namespace voltrix {

namespace {

// The group whose members may read and write the node, so that joining it
// is the way in; empty when there is none to join.
std::string groupGrantingAccess(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {};
  if ((info.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) return {};
  const std::string group = groupName(info.st_gid);
  return group == "root" ? std::string() : group;
}

bool refuseOpen(int error, const std::string& path, PortOpenFailure& failure) {
  switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case ENOTDIR:
      failure.kind = OpenFailure::NoSuchPort;
      break;
    case EACCES:
    case EPERM:
    case EROFS:
      failure.kind = OpenFailure::PermissionDenied;
      failure.group = groupGrantingAccess(path);
      break;
    case EBUSY:
      failure.kind = OpenFailure::PortBusy;
      break;
    case EISDIR:
      failure.kind = OpenFailure::NotASerialPort;
      break;
    default:
      failure.kind = OpenFailure::NoSuchPort;
      failure.systemMessage = std::strerror(error);
      break;
  }
  return false;
}

// What matters of raw 8N1 at `speed`: tcsetattr succeeds when any part of
// the settings was applied.
bool isRaw8N1(const termios& applied, speed_t speed) {
  return ::cfgetospeed(&applied) == speed && (applied.c_cflag & CSIZE) == CS8 &&
         (applied.c_cflag & (PARENB | CSTOPB)) == 0 &&
         (applied.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) == 0 &&
         (applied.c_oflag & OPOST) == 0 &&
         (applied.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP)) == 0;
}

}  // namespace

bool openAndHoldNode(const std::string& path, HeldNode& node, PortOpenFailure& failure) {
  FileDescriptor fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return refuseOpen(errno, path, failure);

  if (::tcgetattr(fd.get(), &node.settings) != 0) {
    const int error = errno;
    if (meansDeviceGone(error)) {
      failure.kind = OpenFailure::NoSuchPort;
      failure.systemMessage = std::strerror(error);
    } else {
      failure.kind = OpenFailure::NotASerialPort;
    }
    return false;
  }

  // TIOCEXCL keeps other openers out but not root; the lock keeps out every
  // opener that asks for it the same way, root included.
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    failure.kind = OpenFailure::PortBusy;
    return false;
  }
  node.exclusive = ::ioctl(fd.get(), TIOCEXCL) == 0;
  node.fd = std::move(fd);
  return true;
}

void releaseNode(int fd, bool exclusive) {
  // The flag belongs to the terminal, not to this descriptor: other openers
  // of the device side would still find it after the close.
  if (exclusive) ::ioctl(fd, TIOCNXCL);
  ::flock(fd, LOCK_UN);
}

bool applyRaw8N1(int fd, termios settings, speed_t speed, std::uint32_t baudRate,
                 PortOpenFailure& failure) {
  // Hardware flow control and the modem control lines stay as the driver
  // has them.
  ::cfmakeraw(&settings);
  settings.c_iflag &= ~static_cast<tcflag_t>(IXOFF | IXANY | INPCK);
  settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
  settings.c_cflag |= CREAD | CLOCAL;
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  failure.baudRate = baudRate;
  if (::cfsetispeed(&settings, speed) != 0 || ::cfsetospeed(&settings, speed) != 0 ||
      ::tcsetattr(fd, TCSANOW, &settings) != 0) {
    failure.kind = OpenFailure::ConfigurationFailed;
    failure.settings = SettingsProblem::Refused;
    failure.systemMessage = std::strerror(errno);
    return false;
  }
  termios applied{};
  if (::tcgetattr(fd, &applied) != 0 || !isRaw8N1(applied, speed)) {
    failure.kind = OpenFailure::ConfigurationFailed;
    failure.settings = SettingsProblem::NotTaken;
    return false;
  }
  return true;
}

std::string groupName(gid_t gid) {
  std::vector<char> buffer(1024);
  group entry{};
  group* found = nullptr;
  while (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
         buffer.size() < 65536) {
    buffer.resize(buffer.size() * 2);
  }
  return found != nullptr ? std::string(found->gr_name) : std::string();
}

}  // namespace voltrix

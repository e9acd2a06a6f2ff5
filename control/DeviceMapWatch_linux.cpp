// The device map's watch on Linux: inotify on /dev, where USB serial ports
// come and go, and on the folders that stand in for the map.

#include <sys/inotify.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstdlib>

#include "control/DeviceMapWatch.h"
#include "platform/FileDescriptor_posix.h"

namespace voltrix {

namespace {

constexpr std::uint32_t kChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                   IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF;

class InotifyDeviceMapWatch final : public DeviceMapWatch {
 public:
  InotifyDeviceMapWatch() : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (!fd_) return;
    ::inotify_add_watch(fd_.get(), "/dev", kChanges);
    for (const char* variable : {"VOLTRIX_SERIALCOMM", "VOLTRIX_DOSDEVICES"}) {
      const char* folder = std::getenv(variable);
      if (folder != nullptr && *folder != '\0') ::inotify_add_watch(fd_.get(), folder, kChanges);
    }
  }

  bool changed() override {
    // Without inotify every call may be a change; the caller's loop bounds it.
    if (!fd_) return true;
    bool any = false;
    alignas(inotify_event) std::array<char, 4096> events{};
    for (;;) {
      const ssize_t got = ::read(fd_.get(), events.data(), events.size());
      if (got > 0) {
        any = true;
        continue;
      }
      if (got < 0 && errno == EINTR) continue;
      // EAGAIN: nothing more now. An overflowed queue still counts as a change.
      return any;
    }
  }

 private:
  FileDescriptor fd_;
};

}  // namespace

std::unique_ptr<DeviceMapWatch> watchDeviceMap() {
  return std::make_unique<InotifyDeviceMapWatch>();
}

bool devicePresent(const std::string& devicePath) {
  return deviceNodeIdentity(devicePath).has_value();
}

std::optional<DeviceNodeIdentity> deviceNodeIdentity(const std::string& devicePath) {
  struct stat node {};
  struct stat name {};
  if (devicePath.empty() || ::stat(devicePath.c_str(), &node) != 0 ||
      ::lstat(devicePath.c_str(), &name) != 0) {
    return std::nullopt;
  }
  return DeviceNodeIdentity{static_cast<std::uint64_t>(node.st_rdev),
                            static_cast<std::uint64_t>(node.st_ino),
                            S_ISLNK(name.st_mode) ? static_cast<std::uint64_t>(name.st_ino) : 0};
}

}  // namespace voltrix

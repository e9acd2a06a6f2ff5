// The preflight's facts on Linux: the node itself (stat, access, an actual
// open), the processes under /proc, sysfs for the USB adapter, udev's
// database and rule folders for ModemManager.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "cli/PreflightProbe.h"
#include "platform/FileDescriptor_posix.h"
#include "port/PortOpening_posix.h"

namespace voltrix::cli {

namespace {

namespace fs = std::filesystem;

constexpr char kRuleFileName[] = "60-voltrix.rules";
constexpr char kModemManagerIgnore[] = "ID_MM_DEVICE_IGNORE";

std::string firstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

bool processInGroup(gid_t gid) {
  if (::getegid() == gid) return true;
  const int count = ::getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  const int got = ::getgroups(count, groups.data());
  for (int i = 0; i < got; ++i) {
    if (groups[static_cast<std::size_t>(i)] == gid) return true;
  }
  return false;
}

std::string modeText(mode_t mode) {
  std::string text = S_ISCHR(mode) ? "c" : S_ISREG(mode) ? "-" : S_ISDIR(mode) ? "d" : "?";
  const char* letters = "rwxrwxrwx";
  for (int bit = 0; bit < 9; ++bit) text += (mode & (0400 >> bit)) ? letters[bit] : '-';
  return text;
}

NodeAccess accessFromError(int error) {
  switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case ENOTDIR:
      return NodeAccess::Missing;
    case EACCES:
    case EPERM:
    case EROFS:
      return NodeAccess::PermissionDenied;
    case EBUSY:
      return NodeAccess::Busy;
    default:
      return NodeAccess::Failed;
  }
}

// Opens the node as the download would, and lets it go at once. Root opens
// a port another program holds with TIOCEXCL, so the flag is asked for too,
// and the lock our own downloads take.
void tryOpen(DeviceFacts& facts) {
  if (::access(facts.path.c_str(), R_OK | W_OK) != 0 && errno != ENOENT) {
    facts.access = accessFromError(errno);
    if (facts.access == NodeAccess::PermissionDenied) return;
  }
  const FileDescriptor fd(::open(facts.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    facts.access = accessFromError(errno);
    facts.systemMessage = std::strerror(errno);
    return;
  }
  termios settings{};
  if (::tcgetattr(fd.get(), &settings) != 0) {
    facts.access = NodeAccess::NotATerminal;
    return;
  }
  int exclusive = 0;
  if (::ioctl(fd.get(), TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
    facts.access = NodeAccess::Busy;
    return;
  }
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    facts.access = NodeAccess::Busy;
    return;
  }
  ::flock(fd.get(), LOCK_UN);
  facts.access = NodeAccess::Ready;
}

// The number of the pseudo-terminal whose device end `device` is; -1 for
// any other device. The kernel numbers them on majors 136 to 143.
int pseudoTerminalIndex(dev_t device) {
  const unsigned int first = 136;
  const unsigned int last = 143;
  if (major(device) < first || major(device) > last) return -1;
  return static_cast<int>((major(device) - first) * 256 + minor(device));
}

// Whether the descriptor `fd` of a process is the controlling side (ptmx)
// of pseudo-terminal number `index`; the kernel tells it in fdinfo.
bool holdsControllingSide(const fs::path& process, const std::string& fd, int index) {
  std::ifstream info(process / "fdinfo" / fd);
  const std::string wanted = "tty-index:\t" + std::to_string(index);
  for (std::string line; std::getline(info, line);) {
    if (line == wanted) return true;
  }
  return false;
}

// Every process with the node open, as far as this user may look.
std::vector<ProcessHolding> holdersOf(dev_t device, const fs::path& proc) {
  std::vector<ProcessHolding> holders;
  const int ptyIndex = pseudoTerminalIndex(device);
  std::error_code error;
  for (fs::directory_iterator it(proc, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    bool opensNode = false;
    bool deviceEnd = false;
    std::error_code fdError;
    for (fs::directory_iterator fd(it->path() / "fd", fdError), last; !fdError && fd != last;
         fd.increment(fdError)) {
      // Only device nodes are looked at: a stat of a file on a hung network
      // share would hang the check.
      std::error_code linkError;
      const std::string target = fs::read_symlink(fd->path(), linkError).string();
      if (target.rfind("/dev/", 0) != 0) continue;
      if (ptyIndex >= 0 && (target == "/dev/ptmx" || target == "/dev/pts/ptmx") &&
          holdsControllingSide(it->path(), fd->path().filename().string(), ptyIndex)) {
        deviceEnd = true;
        continue;
      }
      struct stat opened {};
      if (::stat(fd->path().c_str(), &opened) == 0 && S_ISCHR(opened.st_mode) &&
          opened.st_rdev == device) {
        opensNode = true;
      }
    }
    if (!opensNode) continue;
    int pid = 0;
    std::from_chars(name.data(), name.data() + name.size(), pid);
    holders.push_back({pid, firstLine(it->path() / "comm"), deviceEnd});
  }
  return holders;
}

Knowledge modemManagerMark(dev_t device, const fs::path& udevData) {
  std::ifstream record(udevData /
                       ("c" + std::to_string(major(device)) + ":" + std::to_string(minor(device))));
  if (!record) return Knowledge::Unknown;
  const std::string wanted = std::string("E:") + kModemManagerIgnore + "=1";
  for (std::string line; std::getline(record, line);) {
    if (line == wanted) return Knowledge::Yes;
  }
  return Knowledge::No;
}

bool ruleSetsModemManagerIgnore(const fs::path& file) {
  std::ifstream rules(file);
  for (std::string line; std::getline(rules, line);) {
    const auto start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    if (line.find(kModemManagerIgnore) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

HostFacts probeHost(const PreflightRoots& roots) {
  HostFacts host;
  std::error_code error;
  for (fs::directory_iterator it(roots.proc, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    if (firstLine(it->path() / "comm") == "ModemManager") {
      host.modemManagerRunning = true;
      break;
    }
  }
  for (const std::string& folder : roots.udevRuleFolders) {
    const fs::path file = fs::path(folder) / kRuleFileName;
    std::error_code missing;
    if (!fs::exists(fs::symlink_status(file, missing))) continue;
    // The first folder that has the file decides, as udev reads it.
    if (ruleSetsModemManagerIgnore(file)) host.ignoreRuleFile = file.string();
    break;
  }
  return host;
}

DeviceFacts probeDevice(const std::string& path, const PreflightRoots& roots) {
  DeviceFacts facts;
  facts.path = path;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    facts.access = accessFromError(errno);
    facts.systemMessage = std::strerror(errno);
    return facts;
  }
  facts.group = groupName(info.st_gid);
  if (facts.group.empty()) facts.group = std::to_string(info.st_gid);
  facts.mode = modeText(info.st_mode);
  facts.groupMayReadWrite = (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  facts.inGroup = processInGroup(info.st_gid);
  tryOpen(facts);
  if (!S_ISCHR(info.st_mode)) return facts;

  // The probe's own descriptor is closed by now: it is not among them. A
  // program that opened the port without a lock or TIOCEXCL (cat, a
  // terminal program) lets it open, but would read the device's answers.
  facts.holders = holdersOf(info.st_rdev, roots.proc);
  if (facts.access == NodeAccess::Ready) {
    for (const ProcessHolding& holder : facts.holders) {
      if (!holder.deviceEnd) facts.access = NodeAccess::InUse;
    }
  }
  facts.kernelName = kernelTtyName(path, roots.sys);
  facts.usb = usbIdentityOf(path, roots.sys);
  if (!facts.kernelName.empty()) {
    const fs::path timer =
        fs::path(roots.sys) / "bus" / "usb-serial" / "devices" / facts.kernelName / "latency_timer";
    const std::string value = firstLine(timer);
    if (!value.empty() && value.find_first_not_of("0123456789") == std::string::npos &&
        value.size() < 6) {
      facts.latencyTimerMs = std::stoi(value);
      facts.latencyTimerPath = timer.string();
    }
  }
  facts.modemManagerIgnores = modemManagerMark(info.st_rdev, roots.udevData);
  return facts;
}

}  // namespace voltrix::cli

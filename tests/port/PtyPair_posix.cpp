#include "tests/port/PtyPair.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace voltrix::test {

PtyPair::PtyPair() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) {
    ADD_FAILURE() << "posix_openpt failed: " << std::strerror(errno);
    return;
  }
  char name[128] = {};
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
      ::ptsname_r(master_, name, sizeof name) != 0) {
    ADD_FAILURE() << "cannot prepare the pseudo-terminal: " << std::strerror(errno);
    closeMaster();
    return;
  }
  devicePath_ = name;
  termios settings{};
  if (::tcgetattr(master_, &settings) == 0) {
    ::cfmakeraw(&settings);
    ::tcsetattr(master_, TCSANOW, &settings);
  }
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
  closeMaster();
}

bool PtyPair::send(const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (done < bytes.size()) {
    const ssize_t count = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (count > 0) {
      done += static_cast<std::size_t>(count);
    } else if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      pollfd entry{master_, POLLOUT, 0};
      ::poll(&entry, 1, 10);
    } else {
      return false;
    }
  }
  return true;
}

std::vector<std::uint8_t> PtyPair::receive(std::size_t count, std::chrono::milliseconds wait) {
  std::vector<std::uint8_t> bytes;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (bytes.size() < count) {
    std::uint8_t chunk[4096];
    const ssize_t got = ::read(master_, chunk, std::min(sizeof chunk, count - bytes.size()));
    if (got > 0) {
      bytes.insert(bytes.end(), chunk, chunk + got);
      continue;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd entry{master_, POLLIN, 0};
    ::poll(&entry, 1, static_cast<int>(std::min<long long>(left.count(), 20)));
  }
  return bytes;
}

void PtyPair::closeMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

DosDevicesOverride::DosDevicesOverride(const std::string& directory) {
  if (const char* value = std::getenv("VOLTRIX_DOSDEVICES")) {
    hadValue_ = true;
    previous_ = value;
  }
  ::setenv("VOLTRIX_DOSDEVICES", directory.c_str(), 1);
}

DosDevicesOverride::~DosDevicesOverride() {
  if (hadValue_) {
    ::setenv("VOLTRIX_DOSDEVICES", previous_.c_str(), 1);
  } else {
    ::unsetenv("VOLTRIX_DOSDEVICES");
  }
}

namespace {
int entriesIn(const char* directory) {
  std::error_code error;
  int count = 0;
  for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end;
       it.increment(error)) {
    ++count;
  }
  return count;
}
}  // namespace

int openDescriptorCount() {
  return entriesIn("/proc/self/fd");
}
int threadCount() {
  return entriesIn("/proc/self/task");
}

std::vector<std::uint8_t> everyByteValue() {
  std::vector<std::uint8_t> bytes(256);
  for (int i = 0; i < 256; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  return bytes;
}

}  // namespace voltrix::test

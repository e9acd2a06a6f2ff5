#include "tests/port/ThreadState_linux.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace voltrix::test {

namespace {

bool isPollCall(long number) {
#ifdef SYS_poll
  if (number == SYS_poll) return true;
#endif
  return number == SYS_ppoll;
}

// The first field of the syscall file is the number of the call the thread
// sleeps in, or "running".
bool blockedInPoll(int threadId) {
  std::ifstream file("/proc/self/task/" + std::to_string(threadId) + "/syscall");
  long number = -1;
  return static_cast<bool>(file >> number) && isPollCall(number);
}

// poll() with a timeout of -1, or ppoll() without a timespec.
bool blockedWithoutTimeLimit(int threadId) {
  std::ifstream file("/proc/self/task/" + std::to_string(threadId) + "/syscall");
  long number = -1;
  std::string fds, count, limit;
  if (!(file >> number >> fds >> count >> limit)) return false;
  const unsigned long long value = std::stoull(limit, nullptr, 16);
#ifdef SYS_poll
  if (number == SYS_poll) return static_cast<int>(value) == -1;
#endif
  return number == SYS_ppoll && value == 0;
}

}  // namespace

long voluntarySwitchesOfThisThread() {
  std::ifstream file("/proc/thread-self/status");
  for (std::string line; std::getline(file, line);) {
    constexpr char kKey[] = "voluntary_ctxt_switches:";
    if (line.rfind(kKey, 0) == 0) return std::stol(line.substr(sizeof kKey - 1));
  }
  return -1;
}

std::vector<int> threadIds() {
  std::vector<int> ids;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    ids.push_back(std::stoi(entry.path().filename().string()));
  }
  return ids;
}

bool waitUntilBlockedWithoutTimeLimit(int threadId, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (!blockedWithoutTimeLimit(threadId)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

int currentThreadId() {
  return static_cast<int>(::syscall(SYS_gettid));
}

bool waitUntilBlockedInPoll(int threadId, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (!blockedInPoll(threadId)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace voltrix::test

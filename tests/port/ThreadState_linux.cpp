#include "tests/port/ThreadState_linux.h"

#include <sys/syscall.h>
#include <unistd.h>

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

}  // namespace

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

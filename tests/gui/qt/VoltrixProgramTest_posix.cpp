// The voltrix program itself, headless: asked to end by a signal, it closes
// its dialog as the operator would and exits normally instead of dying.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace voltrix {
namespace {

using namespace std::chrono_literals;

constexpr auto kDeadline = 30s;

bool waitFor(const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + kDeadline;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return done();
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

// Whether the process has a handler of its own for `signal`.
bool catches(pid_t pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigCgt:", 0) == 0) {
      return (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1U;
    }
  }
  return false;
}

pid_t startHeadless() {
  // Qt from the distribution is not built with ThreadSanitizer: the program
  // gets what the test programs set for it (TsanQtSuppressions.cpp).
  const char* tsanOptions = std::getenv("TSAN_OPTIONS");
  std::vector<std::string> settings{"QT_QPA_PLATFORM=offscreen",
                                    "TSAN_OPTIONS=ignore_noninstrumented_modules=1 " +
                                        std::string(tsanOptions != nullptr ? tsanOptions : "")};
  for (char** setting = environ; *setting != nullptr; ++setting) settings.emplace_back(*setting);
  std::vector<char*> environment;
  for (std::string& setting : settings) environment.push_back(setting.data());
  environment.push_back(nullptr);
  char* const arguments[] = {const_cast<char*>(VOLTRIX_PROGRAM), nullptr};
  const pid_t child = ::fork();
  if (child == 0) {
    ::execve(VOLTRIX_PROGRAM, arguments, environment.data());
    ::_exit(127);
  }
  return child;
}

class VoltrixProgram : public ::testing::TestWithParam<int> {};

TEST_P(VoltrixProgram, ClosesItsDialogAndExitsNormallyWhenAskedToEnd) {
  const pid_t child = startHeadless();
  ASSERT_GT(child, 0);
  // From then on the request only raises the flag the dialog watches.
  EXPECT_TRUE(waitFor([&] { return catches(child, GetParam()); }));
  ::kill(child, GetParam());
  int status = 0;
  const bool ended = waitFor([&] { return ::waitpid(child, &status, WNOHANG) == child; });
  if (!ended) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  }
  EXPECT_TRUE(ended);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

INSTANTIATE_TEST_SUITE_P(Requests, VoltrixProgram, ::testing::Values(SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(info.param == SIGTERM ? "SIGTERM" : "SIGHUP");
                         });

}  // namespace
}  // namespace voltrix

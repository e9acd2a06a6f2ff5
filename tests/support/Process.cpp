#include "tests/support/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace voltrix::test {

ProcessResult runProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment,
                         std::chrono::milliseconds limit,
                         const std::function<void(pid_t, const std::string&)>& onOutput,
                         ChildStreams streams) {
  ProcessResult result;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return result;
  const pid_t child = ::fork();
  if (child == 0) {
    if (streams.closed) {
      for (int stream = STDIN_FILENO; stream <= STDERR_FILENO; ++stream) ::close(stream);
    } else {
      ::dup2(pipeFds[1], STDOUT_FILENO);
      ::dup2(pipeFds[1], STDERR_FILENO);
    }
    for (const std::string& setting : environment) ::putenv(const_cast<char*>(setting.c_str()));
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  if (streams.pid != nullptr) streams.pid->store(child);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  char buffer[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timedOut = true;
      ::kill(child, SIGKILL);
      break;
    }
    pollfd fd{pipeFds[0], POLLIN, 0};
    if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
    const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
    if (got <= 0) break;
    result.out.append(buffer, static_cast<std::size_t>(got));
    if (onOutput) onOutput(child, result.out);
    if (streams.readAtMost > 0 && result.out.size() >= streams.readAtMost) break;
  }
  ::close(pipeFds[0]);
  // The output may have ended (or been cut off) before the child did.
  int status = 0;
  while (::waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      result.timedOut = true;
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      break;
    }
    ::poll(nullptr, 0, 10);
  }
  if (!result.timedOut && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  return result;
}

}  // namespace voltrix::test

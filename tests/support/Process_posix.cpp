#include "tests/support/Process_posix.h"

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
  int errorFds[2] = {-1, -1};
  if (streams.separateError && ::pipe2(errorFds, O_CLOEXEC) != 0) {
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    return result;
  }
  const pid_t child = ::fork();
  if (child == 0) {
    if (streams.closed) {
      for (int stream = STDIN_FILENO; stream <= STDERR_FILENO; ++stream) ::close(stream);
    } else {
      ::dup2(pipeFds[1], STDOUT_FILENO);
      ::dup2(streams.separateError ? errorFds[1] : pipeFds[1], STDERR_FILENO);
    }
    if (!streams.workingDirectory.empty() && ::chdir(streams.workingDirectory.c_str()) != 0) {
      ::_exit(126);
    }
    for (const std::string& setting : environment) ::putenv(const_cast<char*>(setting.c_str()));
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  if (errorFds[1] >= 0) ::close(errorFds[1]);
  if (streams.pid != nullptr) streams.pid->store(child);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  char buffer[4096];
  std::string everything;  // both streams in the order read
  pollfd fds[2] = {{pipeFds[0], POLLIN, 0}, {errorFds[0], POLLIN, 0}};
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timedOut = true;
      ::kill(child, SIGKILL);
      break;
    }
    if (fds[0].fd < 0 && fds[1].fd < 0) break;
    if (::poll(fds, 2, static_cast<int>(left.count())) <= 0) continue;
    bool ended = false;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got <= 0) {
        // Standard output's end ends the reading, as it always did.
        if (i == 0) ended = true;
        ::close(fds[i].fd);
        fds[i].fd = -1;
        continue;
      }
      (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(got));
      everything.append(buffer, static_cast<std::size_t>(got));
      if (onOutput) onOutput(child, everything);
    }
    if (ended && fds[1].fd < 0) break;
    if (ended && !streams.separateError) break;
    if (streams.readAtMost > 0 && result.out.size() >= streams.readAtMost) break;
  }
  for (const pollfd& fd : fds) {
    if (fd.fd >= 0) ::close(fd.fd);
  }
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

ProcessResult runProcessIn(const std::string& folder, const std::vector<std::string>& argv,
                           const std::vector<std::string>& environment,
                           std::chrono::milliseconds limit) {
  ChildStreams streams;
  streams.workingDirectory = folder;
  return runProcess(argv, environment, limit, {}, streams);
}

}  // namespace voltrix::test

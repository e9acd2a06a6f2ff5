#pragma once
// A program the benchmarks start as a process of their own: its standard
// output and, when asked, its standard error come back through pipes, and
// when it ends its exit status and the CPU it took (its own rusage, all its
// threads) are known. Every benchmark starts its simulators and the CLI
// through this one helper.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

namespace voltrix::bench {

class ChildProcess {
 public:
  enum class Stream { Inherited, Captured };

  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() {
    if (pid_ > 0) ::kill(pid_, SIGTERM);
    wait();
  }

  // Starts `args` (the program found on PATH when it has no '/').
  bool start(std::vector<std::string> args, Stream out = Stream::Captured,
             Stream err = Stream::Inherited) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int outPipe[2] = {-1, -1};
    int errPipe[2] = {-1, -1};
    if ((out == Stream::Captured && ::pipe2(outPipe, O_CLOEXEC) != 0) ||
        (err == Stream::Captured && ::pipe2(errPipe, O_CLOEXEC) != 0)) {
      return false;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      if (outPipe[1] >= 0) ::dup2(outPipe[1], STDOUT_FILENO);
      if (errPipe[1] >= 0) ::dup2(errPipe[1], STDERR_FILENO);
      ::execvp(argv[0], argv.data());
      ::_exit(127);
    }
    for (const int end : {outPipe[1], errPipe[1]}) {
      if (end >= 0) ::close(end);
    }
    out_ = outPipe[0];
    err_ = errPipe[0];
    return pid_ > 0;
  }

  // The next line of its output or error stream, without the newline;
  // empty once the stream has ended.
  std::string readLine() { return lineOf(out_, outLeft_); }
  std::string readErrorLine() { return lineOf(err_, errLeft_); }

  // Everything both streams still bring until the process closes them:
  // neither pipe is ever left full while the other is read.
  void drain(std::string& out, std::string& err) {
    out += outLeft_;
    err += errLeft_;
    outLeft_.clear();
    errLeft_.clear();
    while (out_ >= 0 || err_ >= 0) {
      pollfd wanted[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
      if (::poll(wanted, 2, -1) < 0) break;
      readSome(wanted[0], out_, out);
      readSome(wanted[1], err_, err);
    }
  }

  void terminate() {
    if (pid_ > 0) ::kill(pid_, SIGTERM);
  }

  // Waits for its end; its exit code (-1 when a signal ended it) and CPU
  // seconds are then known.
  void wait() {
    for (int* end : {&out_, &err_}) {
      if (*end >= 0) ::close(*end);
      *end = -1;
    }
    if (pid_ <= 0) return;
    int status = 0;
    rusage usage{};
    ::wait4(pid_, &status, 0, &usage);
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    cpu_ = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    pid_ = -1;
  }
  int exitCode() const { return exitCode_; }
  double cpu() const { return cpu_; }
  pid_t pid() const { return pid_; }

 private:
  static double seconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
  }

  static std::string lineOf(int& stream, std::string& left) {
    for (;;) {
      if (const auto end = left.find('\n'); end != std::string::npos) {
        std::string line = left.substr(0, end);
        left.erase(0, end + 1);
        return line;
      }
      char buffer[4096];
      const ssize_t got = stream >= 0 ? ::read(stream, buffer, sizeof buffer) : 0;
      if (got <= 0) return std::exchange(left, {});
      left.append(buffer, static_cast<std::size_t>(got));
    }
  }

  static void readSome(const pollfd& ready, int& stream, std::string& into) {
    if (stream < 0 || ready.revents == 0) return;
    char buffer[4096];
    const ssize_t got = ::read(stream, buffer, sizeof buffer);
    if (got > 0) {
      into.append(buffer, static_cast<std::size_t>(got));
    } else {
      ::close(stream);
      stream = -1;
    }
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string outLeft_, errLeft_;
  int exitCode_ = -1;
  double cpu_ = 0;
};

}  // namespace voltrix::bench

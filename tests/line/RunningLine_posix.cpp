#include "tests/line/RunningLine_posix.h"

#include <signal.h>

namespace voltrix::test {

RunningLine::RunningLine(std::vector<std::string> options) {
  options.insert(options.begin(), VOLTRIX_LINE_PROGRAM);
  thread_ = std::thread([this, options] {
    ChildStreams streams;
    streams.pid = &pid_;
    ProcessResult result = runProcess(
        options, {}, std::chrono::seconds(110),
        [this](pid_t, const std::string& out) {
          std::lock_guard lock(mutex_);
          output_ = out;
          printed_.notify_all();
        },
        streams);
    std::lock_guard lock(mutex_);
    result_ = std::move(result);
    output_ = result_.out;
    ended_ = true;
    printed_.notify_all();
  });
}

RunningLine::~RunningLine() {
  if (thread_.joinable()) stop();
}

std::string RunningLine::url() {
  const std::string marker = "serving ";
  std::unique_lock lock(mutex_);
  printed_.wait_for(lock, std::chrono::seconds(60), [&] {
    const auto at = output_.find(marker);
    return ended_ || (at != std::string::npos && output_.find(',', at) != std::string::npos);
  });
  const auto at = output_.find(marker);
  if (ended_ || at == std::string::npos) return {};
  const auto start = at + marker.size();
  return output_.substr(start, output_.find(',', start) - start);
}

std::string RunningLine::output() {
  std::lock_guard lock(mutex_);
  return output_;
}

ProcessResult RunningLine::stop() {
  {
    std::unique_lock lock(mutex_);
    // The child's pid is set before it runs; its first words may come later.
    printed_.wait_for(lock, std::chrono::seconds(60), [&] { return ended_ || pid_ != 0; });
    // Not once it ended: its pid may be another process's by now.
    if (!ended_ && pid_ != 0) ::kill(pid_, SIGTERM);
  }
  thread_.join();
  return result_;
}

}  // namespace voltrix::test

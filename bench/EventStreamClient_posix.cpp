#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <nlohmann/json.hpp>
#include <thread>

#include "bench/EventStreamClient.h"

namespace voltrix::bench {

namespace {

double microsecondsNow() {
  return static_cast<double>(std::chrono::duration_cast<std::chrono::microseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count());
}

double threadCpu() {
  rusage usage{};
  ::getrusage(RUSAGE_THREAD, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The answer as it comes: its head, then chunks, each chunk's bytes the
// event stream's text, whose events end with an empty line.
class StreamParser {
 public:
  explicit StreamParser(EventStreamFigures& figures, double requestedAt)
      : figures_(figures), requestedAt_(requestedAt) {}

  // Takes what one read brought; false once the answer has ended or is
  // not an event stream.
  bool take(const char* data, std::size_t size, double readAt) {
    raw_.append(data, size);
    if (!headDone_) {
      const auto end = raw_.find("\r\n\r\n");
      if (end == std::string::npos) return true;
      figures_.status = raw_.size() > 12 ? std::atoi(raw_.c_str() + 9) : 0;
      raw_.erase(0, end + 4);
      headDone_ = true;
      if (figures_.status != 200) {
        figures_.error = "answered " + std::to_string(figures_.status);
        return false;
      }
    }
    for (;;) {
      if (chunkLeft_ == 0) {
        const auto lineEnd = raw_.find("\r\n");
        if (lineEnd == std::string::npos) return true;
        const std::size_t size = std::strtoul(raw_.c_str(), nullptr, 16);
        raw_.erase(0, lineEnd + 2);
        if (size == 0) {
          figures_.ended = true;
          return false;
        }
        chunkLeft_ = size + 2;  // its bytes and their CRLF
      }
      const std::size_t taken = std::min(chunkLeft_, raw_.size());
      if (taken == 0) return true;
      // The CRLF after a chunk's bytes is no part of the stream's text.
      const std::size_t textBytes = chunkLeft_ > 2 ? std::min(taken, chunkLeft_ - 2) : 0;
      text_.append(raw_, 0, textBytes);
      raw_.erase(0, taken);
      chunkLeft_ -= taken;
      events(readAt);
    }
  }

 private:
  void events(double readAt) {
    for (std::size_t end; (end = text_.find("\n\n")) != std::string::npos;) {
      const std::string block = text_.substr(0, end);
      text_.erase(0, end + 2);
      const auto data = block.find("data: ");
      if (data == std::string::npos) continue;  // a comment that keeps it alive
      const auto event = nlohmann::json::parse(block.substr(data + 6), nullptr, false);
      if (event.is_discarded()) {
        figures_.error = "an event that is no JSON";
        continue;
      }
      ++figures_.events;
      const std::uint64_t id = event.value("id", std::uint64_t{0});
      if (figures_.lastId != 0 && id != figures_.lastId + 1) figures_.gap = true;
      if (figures_.firstId == 0) figures_.firstId = id;
      figures_.lastId = id;
      if (event.value("type", std::string()) == "station_finished") figures_.finished = true;
      const double changedAt = event.value("t", 0.0);
      if (changedAt >= requestedAt_) figures_.latenciesMs.push_back((readAt - changedAt) / 1000.0);
    }
  }

  EventStreamFigures& figures_;
  double requestedAt_;
  std::string raw_, text_;
  bool headDone_ = false;
  std::size_t chunkLeft_ = 0;
};

}  // namespace

struct EventStreamClient::State {
  int socket = -1;
  std::atomic<bool> answered{false};
  std::atomic<bool> cut{false};
  EventStreamFigures figures;
  std::thread thread;

  void read(int port, const std::string& path, int silenceLimitMs) {
    const double connectAt = microsecondsNow();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      figures.error = std::string("connect: ") + std::strerror(errno);
      return;
    }
    const std::string request = "GET " + path +
                                " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/event-stream\r\n"
                                "Connection: keep-alive\r\n\r\n";
    const double requestedAt = microsecondsNow();
    if (::send(socket, request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size())) {
      figures.error = std::string("send: ") + std::strerror(errno);
      return;
    }
    StreamParser parser(figures, requestedAt);
    double lastReadAt = 0;
    char buffer[16384];
    for (;;) {
      pollfd wanted{socket, POLLIN, 0};
      const int ready = ::poll(&wanted, 1, silenceLimitMs);
      if (cut) return;
      if (ready == 0) {
        figures.error = "nothing for " + std::to_string(silenceLimitMs / 1000) + " s";
        return;
      }
      const ssize_t got = ::recv(socket, buffer, sizeof buffer, 0);
      const double readAt = microsecondsNow();
      if (got < 0 && errno == EINTR) continue;
      if (cut) return;
      if (got <= 0) {
        figures.error = got == 0 ? "closed by the server before the end"
                                 : std::string("recv: ") + std::strerror(errno);
        return;
      }
      if (lastReadAt > 0) {
        figures.longestSilenceMs = std::max(figures.longestSilenceMs, (readAt - lastReadAt) / 1e3);
      }
      lastReadAt = readAt;
      const bool more = parser.take(buffer, static_cast<std::size_t>(got), readAt);
      if (!answered && figures.status != 0) {
        figures.connectMs = (readAt - connectAt) / 1000.0;
        answered = true;
      }
      if (!more) return;
    }
  }
};

EventStreamClient::EventStreamClient(int port, std::string path, int silenceLimitMs)
    : state_(std::make_unique<State>()) {
  state_->socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  state_->thread = std::thread([state = state_.get(), port, path, silenceLimitMs] {
    state->read(port, path, silenceLimitMs);
    state->figures.cpu = threadCpu();
    state->answered = true;
  });
}

EventStreamClient::~EventStreamClient() {
  finish(true);
}

bool EventStreamClient::answered() const {
  return state_->answered;
}

const EventStreamFigures& EventStreamClient::finish(bool cut) {
  if (cut) {
    state_->cut = true;
    ::shutdown(state_->socket, SHUT_RDWR);
  }
  if (state_->thread.joinable()) state_->thread.join();
  if (state_->socket >= 0) ::close(state_->socket);
  state_->socket = -1;
  return state_->figures;
}

}  // namespace voltrix::bench

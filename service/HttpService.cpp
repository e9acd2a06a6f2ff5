#include "service/HttpService.h"

#include <httplib.h>

#include <algorithm>
#include <charconv>

#include "service/DashboardPage.h"
#include "service/ServerSockets.h"

namespace voltrix::service {

namespace {

constexpr std::size_t kMostRequestBodyBytes = 4096;
constexpr int kListenQueueDepth = 256;
constexpr std::size_t kDefaultRuns = 100;
constexpr std::size_t kMostRuns = 1000;
// An event stream waits this long at most for news before it looks whether
// the service is stopping.
constexpr auto kStreamWake = std::chrono::milliseconds(500);
// After a write a stream lets the events of this long gather into its next
// one: each write costs the stream's thread a wake-up, and the devices send
// progress many times a second.
constexpr auto kStreamGather = std::chrono::milliseconds(20);

void answerJson(httplib::Response& response, const JsonDocument& json, int status = 200) {
  response.status = status;
  response.set_header("Cache-Control", "no-store");
  response.set_content(jsonLine(json) + "\n", "application/json; charset=utf-8");
}

void answerError(httplib::Response& response, int status, const std::string& text) {
  answerJson(response, {{"error", text}}, status);
}

std::string bearerToken(const httplib::Request& request) {
  const std::string header = request.get_header_value("Authorization");
  constexpr char kScheme[] = "Bearer ";
  if (header.rfind(kScheme, 0) != 0) return {};
  return header.substr(sizeof kScheme - 1);
}

// A browser's event stream cannot send a header: reading also takes the
// token as the parameter `token`. Control never does.
std::string readToken(const httplib::Request& request) {
  const std::string token = bearerToken(request);
  return token.empty() ? request.get_param_value("token") : token;
}

std::optional<std::uint64_t> numberIn(const std::string& text) {
  std::uint64_t value = 0;
  const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (problem != std::errc() || end != text.data() + text.size() || text.empty()) {
    return std::nullopt;
  }
  return value;
}

// A UTC time or its start as the records write it: digits, '-', 'T', ':',
// '.', 'Z' only.
bool timeText(const std::string& text) {
  if (text.size() > 30) return false;
  for (const char c : text) {
    const bool digit = c >= '0' && c <= '9';
    if (!digit && c != '-' && c != 'T' && c != ':' && c != '.' && c != 'Z') return false;
  }
  return true;
}

std::string eventsText(const StationHub::Events& events) {
  std::string text;
  std::uint64_t number = events.last - events.lines.size();
  for (const std::string& line : events.lines) {
    text += "id: " + std::to_string(++number) + "\ndata: " + line + "\n\n";
  }
  return text;
}

}  // namespace

std::string serveRefusal(const ServeAddress& address, bool haveTokens) {
  if (address.loopback() || haveTokens) return {};
  return "--serve " + address.host +
         " can be reached from other machines: give --token-file FILE, or serve on "
         "127.0.0.1";
}

HttpService::HttpService(StationHub& hub, RunHistory& history, ControlAudit& audit,
                         StationControls& controls, ServiceSettings settings)
    : hub_(hub),
      history_(history),
      audit_(audit),
      controls_(controls),
      settings_(std::move(settings)),
      server_(std::make_unique<httplib::Server>()) {
  const std::size_t workers = settings_.mostEventStreams + settings_.apiWorkers;
  // The library owns the queue it is given.
  server_->new_task_queue = [workers] {
    return std::make_unique<httplib::ThreadPool>(workers).release();
  };
  // An event leaves at once: without this a stream's next small write
  // waits for the client's delayed acknowledgement of the last, up to 40 ms.
  server_->set_tcp_nodelay(true);
  server_->set_read_timeout(settings_.ioTimeout);
  server_->set_write_timeout(settings_.ioTimeout);
  // A connection waits this long for its next request's head, the first one
  // included: a client slow to send its first line on a busy machine is
  // not turned away; the watch below still bounds a head that trickles.
  server_->set_keep_alive_timeout(std::max<time_t>(
      1, std::chrono::ceil<std::chrono::seconds>(settings_.requestHeadLimit).count()));
  server_->set_payload_max_length(kMostRequestBodyBytes);
  route();
}

HttpService::~HttpService() {
  stop();
}

bool HttpService::start(std::string& error) {
  port_ = settings_.address.port == 0
              ? server_->bind_to_any_port(settings_.address.host)
              : (server_->bind_to_port(settings_.address.host, settings_.address.port)
                     ? settings_.address.port
                     : -1);
  if (port_ < 0) {
    error = "cannot serve on " + settings_.address.host + ":" +
            std::to_string(settings_.address.port) +
            " (address in use, or not an address of this machine)";
    return false;
  }
  // The library listens with a queue of 5: a burst of clients (50 event
  // streams opening at once) overflows it, and the system then drops their
  // handshakes and tries again after 1, 3, 7 s, beyond a client's timeout.
  deepenListenQueue(port_, kListenQueueDepth);
  watch_ = std::make_unique<ConnectionWatch>(port_, settings_.requestHeadLimit);
  thread_ = std::thread([this] {
    server_->listen_after_bind();
    listening_ = false;
  });
  return true;
}

void HttpService::stop() {
  // The streams first send what the hub still has, the station's end among
  // it, and end as HTTP ends them: stopping the server under them would
  // drop those last events for every stream not yet woken. A client that
  // does not take them holds this no longer than a write may take.
  hub_.close();
  const auto deadline = std::chrono::steady_clock::now() + settings_.ioTimeout;
  while (thread_.joinable() && streams_ > 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  stopping_ = true;
  if (thread_.joinable()) {
    // The server ignores a stop that comes before its thread has begun to
    // listen (a station refused right at its start): asked again until the
    // thread is done.
    while (listening_) {
      server_->stop();
      watch_->cutWaiting();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    thread_.join();
  }
  watch_.reset();
}

void HttpService::route() {
  httplib::Server& server = *server_;
  // Reading: open without tokens, any known token with them.
  auto mayRead = [this](const httplib::Request& request, httplib::Response& response) {
    if (!settings_.tokens || settings_.tokens->roleOf(readToken(request)) != Role::None) {
      return true;
    }
    response.set_header("WWW-Authenticate", "Bearer");
    answerError(response, 401, "a viewer's or an operator's token is needed");
    return false;
  };

  // The page holds nothing of the station: it is open, and asks the API
  // with the token given after '#token=' in its address.
  server.Get("/", [](const httplib::Request&, httplib::Response& response) {
    response.set_header("Cache-Control", "no-store");
    response.set_header("Content-Security-Policy",
                        "default-src 'self'; style-src 'unsafe-inline'; script-src "
                        "'unsafe-inline'");
    response.set_content(std::string(dashboardPage()), "text/html; charset=utf-8");
  });

  server.Get("/api/slots",
             [this, mayRead](const httplib::Request& request, httplib::Response& response) {
               if (mayRead(request, response)) answerJson(response, hub_.slotsJson());
             });

  server.Get(
      "/api/runs", [this, mayRead](const httplib::Request& request, httplib::Response& response) {
        if (!mayRead(request, response)) return;
        const std::string since = request.get_param_value("since");
        std::size_t limit = kDefaultRuns;
        if (request.has_param("limit")) {
          const auto given = numberIn(request.get_param_value("limit"));
          if (!given || *given < 1 || *given > kMostRuns) {
            return answerError(response, 400,
                               "limit is a number from 1 to " + std::to_string(kMostRuns));
          }
          limit = static_cast<std::size_t>(*given);
        }
        if (!timeText(since)) {
          return answerError(response, 400, "since is a UTC time such as 2026-12-09T06:00:00Z");
        }
        JsonDocument runs = JsonDocument::array();
        for (JsonDocument& record : history_.recent(since, limit))
          runs.push_back(std::move(record));
        answerJson(response, runs);
      });

  server.Get(R"(/api/runs/([0-9a-f-]{1,64}))",
             [this, mayRead](const httplib::Request& request, httplib::Response& response) {
               if (!mayRead(request, response)) return;
               if (auto record = history_.byId(request.matches[1]))
                 return answerJson(response, *record);
               answerError(response, 404, "no run with this id");
             });

  server.Get("/metrics",
             [this, mayRead](const httplib::Request& request, httplib::Response& response) {
               if (!mayRead(request, response)) return;
               response.set_content(hub_.metricsText(), "text/plain; version=0.0.4; charset=utf-8");
             });

  server.Get("/api/events", [this, mayRead](const httplib::Request& request,
                                            httplib::Response& response) {
    if (!mayRead(request, response)) return;
    // The event after which to start: the browser's Last-Event-ID on a
    // reconnection, or the number /api/slots gave, or now.
    std::uint64_t after = hub_.lastEvent();
    const std::string given = request.has_header("Last-Event-ID")
                                  ? request.get_header_value("Last-Event-ID")
                                  : request.get_param_value("after");
    if (!given.empty()) {
      const auto number = numberIn(given);
      if (!number) return answerError(response, 400, "after is an event's number");
      after = std::min(*number, after);
    }
    if (++streams_ > settings_.mostEventStreams) {
      --streams_;
      response.set_header("Retry-After", "5");
      return answerError(response, 503, "too many event streams open");
    }
    response.set_header("Cache-Control", "no-store");
    response.set_header("X-Accel-Buffering", "no");
    auto cursor = std::make_shared<std::uint64_t>(after);
    auto quietSince =
        std::make_shared<std::chrono::steady_clock::time_point>(std::chrono::steady_clock::now());
    response.set_chunked_content_provider(
        "text/event-stream",
        [this, cursor, quietSince](std::size_t, httplib::DataSink& sink) {
          if (stopping_) return false;
          const StationHub::Events events = hub_.eventsAfter(*cursor, kStreamWake);
          // Fallen too far behind: closed, the page reloads its state.
          if (events.lost) return false;
          std::string text = eventsText(events);
          *cursor = events.last;
          const auto now = std::chrono::steady_clock::now();
          if (text.empty() && now - *quietSince >= settings_.keepAlive) text = ": alive\n\n";
          if (!text.empty()) {
            *quietSince = now;
            // A client that does not read is dropped when the write times out.
            if (!sink.write(text.data(), text.size())) return false;
          }
          if (events.ended) {
            sink.done();
          } else if (!text.empty()) {
            std::this_thread::sleep_for(kStreamGather);
          }
          return true;
        },
        [this](bool) { --streams_; });
  });

  for (const char* action : {"pause", "resume", "drain", "stop"}) {
    server.Post(std::string("/api/") + action, [this, action](const httplib::Request& request,
                                                              httplib::Response& response) {
      const AccessTokens::Holder holder = settings_.tokens
                                              ? settings_.tokens->holderOf(bearerToken(request))
                                              : AccessTokens::Holder{};
      int status = 202;
      std::string refusal;
      if (!settings_.tokens) {
        status = 403;
        refusal = "the station is served read-only (no --token-file)";
      } else if (holder.role == Role::None) {
        status = 401;
        refusal = "an operator's token is needed";
      } else if (holder.role != Role::Operator) {
        status = 403;
        refusal = "a viewer may not control the station";
      }
      // Kept before it takes effect: a stop may end the station at once.
      ControlAuditEntry entry;
      entry.at = std::chrono::system_clock::now();
      entry.role = roleName(holder.role);
      entry.who = holder.name;
      entry.action = action;
      entry.remoteAddress = request.remote_addr;
      entry.result =
          refusal.empty() ? "accepted" : "refused " + std::to_string(status) + ": " + refusal;
      audit_.record(entry);
      if (!refusal.empty()) {
        if (status == 401) response.set_header("WWW-Authenticate", "Bearer");
        answerError(response, status, refusal);
        return;
      }
      const std::string what = action;
      if (what == "pause") controls_.pause();
      if (what == "resume") controls_.resume();
      if (what == "drain") controls_.drain();
      if (what == "stop") controls_.stop();
      answerJson(response, {{"done", what}}, status);
    });
  }

  server.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
    watch_->headRead(request.remote_addr, request.remote_port);
    return httplib::Server::HandlerResponse::Unhandled;
  });
  // Told once the answer is out, an event stream's when it ends.
  server.set_logger([this](const httplib::Request& request, const httplib::Response&) {
    watch_->answered(request.remote_addr, request.remote_port);
  });
  server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
    if (!response.body.empty()) return;
    const char* text = response.status == 404   ? "no such page"
                       : response.status == 413 ? "the request is too big"
                       : response.status < 500  ? "bad request"
                                                : "the service failed";
    answerError(response, response.status, text);
  });
  server.set_exception_handler(
      [](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
        answerError(response, 500, "the service failed");
      });
}

}  // namespace voltrix::service

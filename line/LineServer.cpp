#include "line/LineServer.h"

#include <httplib.h>

#include <algorithm>
#include <cstdlib>

#include "line/LineAnswers.h"
#include "service/ConnectionWatch.h"
#include "service/ServerSockets.h"

namespace voltrix {

namespace {

// The largest body a route takes (a job's image); the others are refused
// by their Content-Length before their body is read.
constexpr std::size_t kMostJobBytes = 64 * 1024 * 1024;
constexpr std::size_t kMostRecordsBytes = 8 * 1024 * 1024;
constexpr char kJobsPath[] = "/api/jobs";
constexpr std::size_t kMostRecordLines = 1000;
constexpr std::size_t kMostStateBytes = 1024 * 1024;
constexpr int kListenQueueDepth = 256;

std::string bearerToken(const httplib::Request& request) {
  const std::string header = request.get_header_value("Authorization");
  constexpr char kScheme[] = "Bearer ";
  if (header.rfind(kScheme, 0) != 0) return {};
  return header.substr(sizeof kScheme - 1);
}

// The body's lines, a trailing line break allowed.
std::vector<std::string> bodyLines(const std::string& body) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < body.size()) {
    std::size_t end = body.find('\n', start);
    if (end == std::string::npos) end = body.size();
    lines.emplace_back(body, start, end - start);
    start = end + 1;
  }
  return lines;
}

// Whose records a post holds: the first record's station, else the
// token's holder.
std::string postingStation(const std::vector<std::string>& lines, const std::string& holder) {
  const JsonDocument first = JsonDocument::parse(lines.front(), nullptr, false);
  if (first.is_object() && first.contains("station") && first["station"].is_string()) {
    return first["station"].get<std::string>();
  }
  return holder;
}

}  // namespace

std::string lineServeRefusal(const LineServerSettings& settings) {
  if (!settings.address.loopback() && !settings.tokens) {
    return "--listen " + settings.address.host +
           " can be reached from other machines: give --token-file FILE, or listen on "
           "127.0.0.1";
  }
  if (settings.certificateFile.empty() != settings.keyFile.empty()) {
    return "--cert and --cert-key go together";
  }
  return {};
}

LineServer::LineServer(LineConnections& connections, StationBoard& board,
                       LineServerSettings settings)
    : connections_(connections), board_(board), settings_(std::move(settings)) {
  if (settings_.certificateFile.empty()) {
    server_ = std::make_unique<httplib::Server>();
  } else {
    server_ = std::make_unique<httplib::SSLServer>(settings_.certificateFile.c_str(),
                                                   settings_.keyFile.c_str());
  }
  const std::size_t workers = settings_.mostEventStreams + settings_.apiWorkers;
  // The library owns the queue it is given.
  server_->new_task_queue = [workers] {
    return std::make_unique<httplib::ThreadPool>(workers).release();
  };
  server_->set_tcp_nodelay(true);
  server_->set_read_timeout(settings_.ioTimeout);
  server_->set_write_timeout(settings_.ioTimeout);
  server_->set_keep_alive_timeout(std::max<time_t>(
      1, std::chrono::ceil<std::chrono::seconds>(settings_.requestHeadLimit).count()));
  server_->set_payload_max_length(kMostJobBytes);
  routePosts();
  routeReads();
  routeEvents();
  routeService();
  routeJobs();
}

LineServer::~LineServer() {
  stop();
}

std::string LineServer::url() const {
  const std::string host = settings_.address.host.find(':') != std::string::npos
                               ? "[" + settings_.address.host + "]"
                               : settings_.address.host;
  return (settings_.certificateFile.empty() ? "http://" : "https://") + host + ":" +
         std::to_string(port_);
}

bool LineServer::start(std::string& error) {
  if (!server_->is_valid()) {
    error = "cannot use the certificate " + settings_.certificateFile + " with the key " +
            settings_.keyFile + " (not PEM, or they do not belong together)";
    return false;
  }
  port_ = settings_.address.port == 0
              ? server_->bind_to_any_port(settings_.address.host)
              : (server_->bind_to_port(settings_.address.host, settings_.address.port)
                     ? settings_.address.port
                     : -1);
  if (port_ < 0) {
    error = "cannot listen on " + settings_.address.host + ":" +
            std::to_string(settings_.address.port) +
            " (address in use, or not an address of this machine)";
    return false;
  }
  // The library's queue of 5 would drop the handshakes of a burst of
  // stations and browsers connecting at once.
  service::deepenListenQueue(port_, kListenQueueDepth);
  watch_ = std::make_unique<service::ConnectionWatch>(port_, settings_.requestHeadLimit);
  thread_ = std::thread([this] {
    server_->listen_after_bind();
    listening_ = false;
  });
  return true;
}

void LineServer::stop() {
  // The streams first send what is left and end as HTTP ends them; a client
  // that does not take it holds this no longer than a write may take.
  board_.close();
  const auto deadline = std::chrono::steady_clock::now() + settings_.ioTimeout;
  while (thread_.joinable() && streams_ > 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  stopping_ = true;
  if (thread_.joinable()) {
    // A stop that comes before the thread began to listen is ignored:
    // asked again until the thread is done.
    while (listening_) {
      server_->stop();
      watch_->cutWaiting();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    thread_.join();
  }
  watch_.reset();
}

bool LineServer::allowed(const httplib::Request& request, httplib::Response& response,
                         LineAccess access, bool tokenInQuery) const {
  if (!settings_.tokens) return true;
  std::string token = bearerToken(request);
  if (token.empty() && tokenInQuery) token = request.get_param_value("token");
  const service::Role role = settings_.tokens->roleOf(token);
  if (role == service::Role::None) {
    response.set_header("WWW-Authenticate", "Bearer");
    answerError(response, 401, token.empty() ? "a token is needed" : "unknown token");
    return false;
  }
  if (!lineAllows(role, access)) {
    const char* what = access == LineAccess::Post      ? " may not post records or state"
                       : access == LineAccess::Publish ? " may not publish jobs"
                                                       : " may not read the line";
    answerError(response, 403, std::string("a ") + service::roleName(role) + what);
    return false;
  }
  return true;
}

bool LineServer::withDatabase(httplib::Response& response, const LineConnections::Work& work) {
  LineDbError error;
  if (connections_.with(work, error)) return true;
  response.set_header("Retry-After", "5");
  answerError(response, 503,
              std::string("database: ") + lineDbFailureName(error.kind) + ": " + error.text);
  return false;
}

void LineServer::routePosts() {
  server_->Post("/api/records", [this](const httplib::Request& request,
                                       httplib::Response& response) {
    if (allowed(request, response, LineAccess::Post)) {
      const std::vector<std::string> lines = bodyLines(request.body);
      if (request.body.size() > kMostRecordsBytes) {
        answerError(response, 413, "at most 8 MiB of records a post");
      } else if (request.body.find_first_not_of("\r\n\t ") == std::string::npos) {
        answerError(response, 400, "no log lines in the body");
      } else if (lines.size() > kMostRecordLines) {
        answerError(response, 413, "at most " + std::to_string(kMostRecordLines) + " lines a post");
      } else {
        LineInsertCount count;
        // Answered only once the transaction committed: the station may
        // then count these lines as delivered.
        if (withDatabase(response, [&](LineDb& db, LineDbError& error) {
              const auto inserted = db.insertRecords(lines, error);
              if (inserted) count = *inserted;
              return inserted.has_value();
            })) {
          board_.recordsTaken(postingStation(lines, "unknown"), lines.size(), count);
          answerJson(
              response,
              {{"added", count.added}, {"known", count.known}, {"notRecords", count.notRecords}});
        }
      }
    }
    board_.countPost("records", response.status);
  });

  server_->Post(
      "/api/stations/state", [this](const httplib::Request& request, httplib::Response& response) {
        if (allowed(request, response, LineAccess::Post)) {
          std::string error;
          if (request.body.size() > kMostStateBytes) {
            answerError(response, 413, "a station's state is at most 1 MiB");
          } else if (JsonDocument state = JsonDocument::parse(request.body, nullptr, false);
                     state.is_discarded()) {
            answerError(response, 400, "the body is not JSON");
          } else if (!board_.takeState(std::move(state), StationBoard::Clock::now(), error)) {
            answerError(response, 400, error);
          } else {
            response.status = 204;
          }
        }
        board_.countPost("state", response.status);
      });
}

void LineServer::routeService() {
  // Seen once the head is read, before the body: a body beyond the
  // records' limit (a job's image) is read only for one whose token may
  // send it; the routes refuse what is too big for them.
  server_->set_pre_routing_handler(
      [this](const httplib::Request& request, httplib::Response& response) {
        watch_->headRead(request.remote_addr, request.remote_port);
        using Handled = httplib::Server::HandlerResponse;
        if (request.method != "POST") return Handled::Unhandled;
        const bool publishing = request.path == kJobsPath;
        const std::string length = request.get_header_value("Content-Length");
        const bool large = std::strtoull(length.c_str(), nullptr, 10) > kMostRecordsBytes;
        if ((publishing || large) &&
            !allowed(request, response, publishing ? LineAccess::Publish : LineAccess::Post)) {
          return Handled::Handled;
        }
        return Handled::Unhandled;
      });
  // Told once the answer is out, an event stream's when it ends.
  server_->set_logger([this](const httplib::Request& request, const httplib::Response&) {
    watch_->answered(request.remote_addr, request.remote_port);
  });
  server_->set_error_handler([](const httplib::Request&, httplib::Response& response) {
    if (!response.body.empty()) return;
    const char* text = response.status == 404   ? "no such page"
                       : response.status == 413 ? "the request is too big"
                       : response.status < 500  ? "bad request"
                                                : "the line failed";
    answerError(response, response.status, text);
  });
  server_->set_exception_handler(
      [](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
        answerError(response, 500, "the line failed");
      });
}

}  // namespace voltrix

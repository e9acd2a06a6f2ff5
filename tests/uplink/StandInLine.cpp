#include "tests/uplink/StandInLine.h"

#include <chrono>
#include <sstream>

namespace voltrix::test {

bool StandInLine::start() {
  stop();
  server_ = std::make_unique<httplib::Server>();
  const auto allowed = [this](const httplib::Request& request, httplib::Response& response) {
    if (request.get_header_value("Authorization") == "Bearer " + token_) return true;
    response.status = 401;
    response.set_content(R"({"error":"unknown token"})", "application/json");
    return false;
  };
  server_->Post("/api/records", [this, allowed](const auto& request, auto& response) {
    if (allowed(request, response)) answerRecords(request, response);
  });
  server_->Post("/api/stations/state", [this, allowed](const auto& request, auto& response) {
    if (!allowed(request, response)) return;
    const std::lock_guard lock(mutex_);
    lastState_ = JsonDocument::parse(request.body, nullptr, false);
    response.status = 204;
  });
  if (port_ == 0) {
    port_ = server_->bind_to_any_port("127.0.0.1");
  } else if (!server_->bind_to_port("127.0.0.1", port_)) {
    return false;
  }
  if (port_ <= 0) return false;
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // Ready once it listens: the port is bound already, so a client that
  // comes early waits in the backlog.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!server_->is_running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  return server_->is_running();
}

void StandInLine::stop() {
  if (!server_) return;
  server_->stop();
  if (thread_.joinable()) thread_.join();
  server_.reset();
}

void StandInLine::setUnavailable(bool unavailable) {
  const std::lock_guard lock(mutex_);
  unavailable_ = unavailable;
}

void StandInLine::setRefusingAll(bool refusing) {
  const std::lock_guard lock(mutex_);
  refusingAll_ = refusing;
}

void StandInLine::setMostLines(std::size_t lines) {
  const std::lock_guard lock(mutex_);
  mostLines_ = lines;
}

std::map<std::string, int> StandInLine::posted() const {
  const std::lock_guard lock(mutex_);
  return posted_;
}

std::vector<std::size_t> StandInLine::batchSizes() const {
  const std::lock_guard lock(mutex_);
  return batchSizes_;
}

JsonDocument StandInLine::lastState() const {
  const std::lock_guard lock(mutex_);
  return lastState_;
}

void StandInLine::answerRecords(const httplib::Request& request, httplib::Response& response) {
  std::vector<JsonDocument> lines;
  std::istringstream body(request.body);
  for (std::string line; std::getline(body, line);) {
    lines.push_back(JsonDocument::parse(line, nullptr, false));
  }
  const std::lock_guard lock(mutex_);
  batchSizes_.push_back(lines.size());
  const auto refuse = [&](int status, const char* error) {
    response.status = status;
    response.set_content(JsonDocument{{"error", error}}.dump(), "application/json");
  };
  if (unavailable_) return refuse(503, "database: connection: the server is away");
  if (lines.empty()) return refuse(400, "no records");
  if (refusingAll_) return refuse(400, "no such route");
  if (lines.size() > mostLines_) return refuse(413, "too many lines");
  int added = 0, known = 0, notRecords = 0;
  for (const JsonDocument& line : lines) {
    if (!line.is_object() || !line.contains("id")) {
      ++notRecords;
      continue;
    }
    (posted_[line["id"].get<std::string>()]++ == 0 ? added : known) += 1;
  }
  response.set_content(
      JsonDocument{{"added", added}, {"known", known}, {"notRecords", notRecords}}.dump(),
      "application/json");
}

}  // namespace voltrix::test

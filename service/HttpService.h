#pragma once
// The station served over HTTP: the dashboard page, the JSON API, the event
// stream and the metrics, read from a StationHub and a RunHistory; the
// control requests go to the station's controls, each one kept by a
// ControlAudit. One thread accepts, a fixed pool of workers answers: the
// event streams are capped below the pool's size, so that however many
// are open the API is still answered.

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "service/AccessTokens.h"
#include "service/ConnectionWatch.h"
#include "service/ControlAudit.h"
#include "service/RunHistory.h"
#include "service/StationHub.h"
#include "station/Station.h"

namespace httplib {
class Server;
}

namespace voltrix::service {

// What the control requests do to the station. None of them cuts a
// running device; they return at once.
class StationControls {
 public:
  virtual ~StationControls() = default;
  virtual void pause() = 0;
  virtual void resume() = 0;
  virtual void drain() = 0;
  // Drains; the process then ends with the station's exit code.
  virtual void stop() = 0;
};

// The control requests as a station takes them: a stop is a drain, after
// which the station ends, and with it the process.
class ControlsOfStation final : public StationControls {
 public:
  explicit ControlsOfStation(Station& station) : station_(station) {}
  void pause() override { station_.pause(); }
  void resume() override { station_.resume(); }
  void drain() override { station_.drain(); }
  void stop() override { station_.drain(); }

 private:
  Station& station_;
};

struct ServiceSettings {
  ServeAddress address;
  // Without tokens the API is read-only and reading is open.
  std::optional<AccessTokens> tokens;
  std::size_t mostEventStreams = 64;
  // Beyond the event streams' share of the pool: for everything else.
  std::size_t apiWorkers = 8;
  // A client that sends or takes nothing for this long is dropped.
  std::chrono::milliseconds ioTimeout{5000};
  // A request's head must come whole within this, however it trickles in.
  std::chrono::milliseconds requestHeadLimit{10000};
  // An event stream with nothing to say sends a comment this often: a
  // client that went away is noticed.
  std::chrono::milliseconds keepAlive{10000};
};

class HttpService {
 public:
  HttpService(StationHub& hub, RunHistory& history, ControlAudit& audit, StationControls& controls,
              ServiceSettings settings);
  ~HttpService();
  HttpService(const HttpService&) = delete;
  HttpService& operator=(const HttpService&) = delete;

  // Binds the address and serves on a thread of its own; false with
  // `error` when the address cannot be bound.
  bool start(std::string& error);
  // The port bound (the one chosen when 0 was asked for).
  int port() const { return port_; }
  std::size_t openEventStreams() const { return streams_; }
  // Closes the hub, lets the event streams send what is left and end, then
  // ends the server; returns once it has stopped.
  void stop();

 private:
  void route();

  StationHub& hub_;
  RunHistory& history_;
  ControlAudit& audit_;
  StationControls& controls_;
  ServiceSettings settings_;
  std::unique_ptr<httplib::Server> server_;
  std::unique_ptr<ConnectionWatch> watch_;
  std::thread thread_;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> listening_{true};
  std::atomic<std::size_t> streams_{0};
};

// Why a station may not be served as asked: a non-loopback address
// without tokens. Empty when it may.
std::string serveRefusal(const ServeAddress& address, bool haveTokens);

}  // namespace voltrix::service

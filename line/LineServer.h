#pragma once
// The line served over HTTP(S): the stations post their records (into the
// database) and their live state (kept in a StationBoard); browsers read
// every station, the runs, the yield, the failures, an export, the metrics
// and an event stream. One thread accepts, a fixed pool of workers answers:
// the event streams are capped below the pool's size, so that however many
// are open the posts are still answered.

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "job/JobKeys.h"
#include "line/LineAccess.h"
#include "line/LineConnections.h"
#include "line/StationBoard.h"
#include "service/AccessTokens.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace voltrix::service {
class ConnectionWatch;
}

namespace voltrix {

struct LineServerSettings {
  service::ServeAddress address;
  // Without tokens (on loopback only) every request is allowed.
  std::optional<service::AccessTokens> tokens;
  // Both given: HTTPS with this certificate (PEM) and its key.
  std::string certificateFile, keyFile;
  // The keys a published job must be signed with (--trust-key); none: the
  // line refuses every job.
  std::vector<PublicKey> trustedKeys;
  std::size_t mostEventStreams = 64;
  // Beyond the event streams' share of the pool: posts, reads, exports. A
  // client's kept-alive connection holds a worker while it waits for its
  // next request, so there is one for each of 50 stations and 20 browsers
  // (two connections each), and more.
  std::size_t apiWorkers = 128;
  std::chrono::milliseconds ioTimeout{10000};
  std::chrono::milliseconds requestHeadLimit{10000};
  std::chrono::milliseconds keepAlive{10000};
};

class LineServer {
 public:
  LineServer(LineConnections& connections, StationBoard& board, LineServerSettings settings);
  ~LineServer();
  LineServer(const LineServer&) = delete;
  LineServer& operator=(const LineServer&) = delete;

  // Binds the address and serves on a thread of its own; false with
  // `error` when the address cannot be bound or the certificate not read.
  bool start(std::string& error);
  int port() const { return port_; }
  // "http://127.0.0.1:8080", "https://..." once started.
  std::string url() const;
  // Ends the event streams (they send what is left and end), then the
  // server; returns once it has stopped.
  void stop();

 private:
  void routePosts();
  void routeReads();
  void routeEvents();
  void routeService();
  // The jobs' routes (publish, the current job, its image); none in a build
  // without signed jobs.
  void routeJobs();
  // The current job's lines of the metrics; empty without one.
  std::string jobMetrics();
  // Answers 401 or 403 and returns false when the request's token may not
  // do `access`. The event stream also takes the token as `?token=`.
  bool allowed(const httplib::Request& request, httplib::Response& response, LineAccess access,
               bool tokenInQuery = false) const;
  // Runs `work` on a database connection; answers 503 when it fails.
  bool withDatabase(httplib::Response& response, const LineConnections::Work& work);

  LineConnections& connections_;
  StationBoard& board_;
  LineServerSettings settings_;
  std::unique_ptr<httplib::Server> server_;
  std::unique_ptr<service::ConnectionWatch> watch_;
  std::thread thread_;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> listening_{true};
  std::atomic<std::size_t> streams_{0};
};

// Why the line may not be served as asked: a non-loopback address without
// a token file, or only one of --cert and --cert-key. Empty when it may.
std::string lineServeRefusal(const LineServerSettings& settings);

}  // namespace voltrix

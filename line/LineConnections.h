#pragma once
// The line's connections to its database, shared by the threads that answer
// requests: a few are kept open and lent one request at a time. A
// connection that failed because the server went away is dropped, and the
// next request opens a new one: that is how the line reconnects after the
// database restarted. While it stays away, a new connection is tried at most
// once per retry interval; the requests in between get the last failure at
// once rather than each waiting for the connection's timeout.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "line/LineDb.h"

namespace voltrix {

class LineConnections {
 public:
  struct Settings {
    std::size_t most = 8;  // connections open at once, at most
    std::chrono::milliseconds retryEvery{1000};
    // A request waits this long for a connection another one holds.
    std::chrono::milliseconds waitForFree{5000};
  };

  // `first` is the connection the program opened at its start (or null).
  LineConnections(std::string conninfo, std::unique_ptr<LineDb> first, Settings settings);
  ~LineConnections();
  LineConnections(const LineConnections&) = delete;
  LineConnections& operator=(const LineConnections&) = delete;

  // Runs `work` on a connection of its own. False with `error` when no
  // connection could be had, or when `work` failed (and said why in
  // `error`); a failure to reach the server drops the connection.
  using Work = std::function<bool(LineDb& db, LineDbError& error)>;
  bool with(const Work& work, LineDbError& error);

  // How often a request found the database failing, for the metrics.
  std::uint64_t failures() const;
  // Whether the last attempt reached the database.
  bool reachable() const;

 private:
  std::unique_ptr<LineDb> take(LineDbError& error);
  void giveBack(std::unique_ptr<LineDb> db, const LineDbError& error);

  const std::string conninfo_;
  const Settings settings_;
  mutable std::mutex mutex_;
  std::condition_variable freed_;
  std::vector<std::unique_ptr<LineDb>> idle_;
  std::size_t lent_ = 0;
  std::size_t opening_ = 0;
  std::chrono::steady_clock::time_point lastFailedOpen_{};
  LineDbError lastOpenError_;
  std::uint64_t failures_ = 0;
  bool reachable_ = true;
};

}  // namespace voltrix

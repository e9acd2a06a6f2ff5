#pragma once
// The HTTP service on 127.0.0.1 at a port the system picks, over a hub the
// test feeds itself or a real station on simulated devices, and what a
// client sees of it: answers, event streams, raw bytes on a socket.

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "service/HttpService.h"

namespace voltrix::test {

// The station's controls as the table of tokens needs them: what reached
// the station, counted.
class CountedControls final : public service::StationControls {
 public:
  void pause() override { ++calls; }
  void resume() override { ++calls; }
  void drain() override { ++calls; }
  void stop() override { ++calls; }
  std::atomic<int> calls{0};
};

inline service::ServiceSettings loopbackSettings() {
  service::ServiceSettings settings;
  settings.address = {"127.0.0.1", 0};
  settings.ioTimeout = std::chrono::milliseconds(2000);
  settings.keepAlive = std::chrono::milliseconds(300);
  settings.requestHeadLimit = std::chrono::milliseconds(3000);
  return settings;
}

inline const char* kViewerToken = "viewer-token-0123456789";
inline const char* kOperatorToken = "operator-token-0123456789";

inline service::AccessTokens twoTokens() {
  std::string error;
  auto tokens = service::AccessTokens::parse(
      std::string("viewer ") + kViewerToken + "\noperator " + kOperatorToken + " alice\n", error);
  EXPECT_TRUE(tokens) << error;
  return *tokens;
}

inline httplib::Headers bearer(const std::string& token) {
  if (token.empty()) return {};
  return {{"Authorization", "Bearer " + token}};
}

// Waits until `ready` holds, at most `limit`.
template <class Ready>
bool eventually(Ready ready, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Sends `request` as raw bytes and returns the answer's first line (or
// what came before the server closed), "(no answer)" after `limit`.
std::string rawExchange(int port, const std::string& request,
                        std::chrono::milliseconds limit = std::chrono::seconds(15));

// A TCP connection to the service that the test drives byte by byte.
class RawClient {
 public:
  explicit RawClient(int port, int receiveBuffer = 0);
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;
  bool send(const std::string& bytes);
  // What the server sent until it closed the connection (or, when
  // `statusLineEnough`, until its answer's first line came); empty when
  // neither happened within `limit`.
  std::optional<std::string> receiveUntilClosed(std::chrono::milliseconds limit,
                                                bool statusLineEnough = false);

 private:
  int socket_ = -1;
};

}  // namespace voltrix::test

#pragma once
// A request's head must come whole within a time limit. The server's own
// timeouts bound each wait for a byte, so a client that sends a byte now and
// then would hold a worker for ever: this watch cuts every connection that
// has been waiting for a request's head longer than the limit. A request
// being answered (an event stream too) is never cut.

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace voltrix::service {

class ConnectionWatch {
 public:
  ConnectionWatch(int port, std::chrono::milliseconds headLimit);
  ~ConnectionWatch();
  ConnectionWatch(const ConnectionWatch&) = delete;
  ConnectionWatch& operator=(const ConnectionWatch&) = delete;

  // The request's head has come on the client's connection: it is answered.
  void headRead(const std::string& peerAddress, int peerPort);
  // The answer is out: the connection waits for the next head.
  void answered(const std::string& peerAddress, int peerPort);
  // Cuts every connection that is not being answered: at the server's stop
  // a connection kept open for a next request would hold its worker in the
  // library's wait for one as long as the head limit.
  void cutWaiting();

 private:
  using Clock = std::chrono::steady_clock;
  using Peer = std::pair<std::string, int>;
  struct Connection {
    int handle = -1;
    Clock::time_point waitingSince;
    bool answering = false;
    // When the server last told of it: a connection told of after a look
    // began may be missing from that look's list.
    Clock::time_point told{};
  };

  void watch();
  void look();

  int port_;
  std::chrono::milliseconds headLimit_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::map<Peer, Connection> connections_;
  std::thread thread_;
};

}  // namespace voltrix::service

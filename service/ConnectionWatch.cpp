#include "service/ConnectionWatch.h"

#include <set>
#include <vector>

#include "service/ServerSockets.h"

namespace voltrix::service {

namespace {

// How often the connections are looked at: a stalled one lives at most this
// much longer than the limit.
constexpr auto kLookPeriod = std::chrono::milliseconds(200);

}  // namespace

ConnectionWatch::ConnectionWatch(int port, std::chrono::milliseconds headLimit)
    : port_(port), headLimit_(headLimit), thread_([this] { watch(); }) {}

ConnectionWatch::~ConnectionWatch() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void ConnectionWatch::headRead(const std::string& peerAddress, int peerPort) {
  const std::lock_guard lock(mutex_);
  Connection& connection = connections_[{peerAddress, peerPort}];
  connection.answering = true;
  connection.told = Clock::now();
}

void ConnectionWatch::answered(const std::string& peerAddress, int peerPort) {
  const std::lock_guard lock(mutex_);
  const auto found = connections_.find({peerAddress, peerPort});
  if (found == connections_.end()) return;
  found->second.answering = false;
  found->second.waitingSince = found->second.told = Clock::now();
}

void ConnectionWatch::cutWaiting() {
  std::vector<OpenConnection> waiting;
  {
    const std::lock_guard lock(mutex_);
    for (const OpenConnection& connection : connectionsTo(port_)) {
      const auto found = connections_.find({connection.peerAddress, connection.peerPort});
      if (found == connections_.end() || !found->second.answering) waiting.push_back(connection);
    }
  }
  for (const OpenConnection& connection : waiting) cutConnection(connection);
}

void ConnectionWatch::watch() {
  std::unique_lock lock(mutex_);
  while (!wake_.wait_for(lock, kLookPeriod, [this] { return stopping_; })) {
    lock.unlock();
    look();
    lock.lock();
  }
}

void ConnectionWatch::look() {
  const auto now = Clock::now();
  const std::vector<OpenConnection> open = connectionsTo(port_);
  std::vector<OpenConnection> overdue;
  {
    const std::lock_guard lock(mutex_);
    std::set<Peer> seen;
    for (const OpenConnection& connection : open) {
      const Peer peer{connection.peerAddress, connection.peerPort};
      seen.insert(peer);
      auto [entry, added] = connections_.try_emplace(peer);
      // New, or known by its head before the watch first saw it.
      if (added || entry->second.handle != connection.handle) {
        entry->second.handle = connection.handle;
        if (!entry->second.answering) entry->second.waitingSince = now;
      }
      if (!entry->second.answering && now - entry->second.waitingSince > headLimit_) {
        overdue.push_back(connection);
      }
    }
    std::erase_if(connections_, [&](const auto& entry) {
      return !seen.contains(entry.first) && entry.second.told < now;
    });
  }
  for (const OpenConnection& connection : overdue) cutConnection(connection);
}

}  // namespace voltrix::service

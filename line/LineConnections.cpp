#include "line/LineConnections.h"

#include "line/PgSession.h"

namespace voltrix {

LineConnections::LineConnections(std::string conninfo, std::unique_ptr<LineDb> first,
                                 Settings settings)
    : conninfo_(std::move(conninfo)), settings_(settings) {
  if (first) idle_.push_back(std::move(first));
}

LineConnections::~LineConnections() = default;

bool LineConnections::with(const Work& work, LineDbError& error) {
  std::unique_ptr<LineDb> db = take(error);
  if (!db) {
    std::lock_guard lock(mutex_);
    ++failures_;
    return false;
  }
  error = {};
  const bool done = work(*db, error);
  if (!done && error.kind == LineDbFailure::CannotConnect) db.reset();
  giveBack(std::move(db), done ? LineDbError{} : error);
  return done;
}

std::unique_ptr<LineDb> LineConnections::take(LineDbError& error) {
  std::unique_lock lock(mutex_);
  const auto deadline = std::chrono::steady_clock::now() + settings_.waitForFree;
  while (idle_.empty() && lent_ + opening_ >= settings_.most) {
    if (freed_.wait_until(lock, deadline) == std::cv_status::timeout && idle_.empty() &&
        lent_ + opening_ >= settings_.most) {
      error.kind = LineDbFailure::Other;
      error.text = "every connection to the database is busy";
      return nullptr;
    }
  }
  while (!idle_.empty()) {
    std::unique_ptr<LineDb> db = std::move(idle_.back());
    idle_.pop_back();
    ++lent_;
    // A connection kept while the server restarted is broken without
    // knowing it: asked first, so that the request is not the one to fail.
    lock.unlock();
    LineDbError ping;
    const bool alive = db->session().runScript("SELECT 1", "cannot reach the database", ping);
    lock.lock();
    if (alive) return db;
    --lent_;
    idle_.clear();  // kept as long, and as broken
  }
  // Away a moment ago: the same answer, without waiting on the network.
  if (!reachable_ && std::chrono::steady_clock::now() - lastFailedOpen_ < settings_.retryEvery) {
    error = lastOpenError_;
    return nullptr;
  }
  ++opening_;
  lock.unlock();
  std::unique_ptr<LineDb> db = LineDb::open(conninfo_, error);
  lock.lock();
  --opening_;
  if (!db) {
    reachable_ = false;
    lastFailedOpen_ = std::chrono::steady_clock::now();
    lastOpenError_ = error;
    freed_.notify_one();
    return nullptr;
  }
  reachable_ = true;
  ++lent_;
  return db;
}

void LineConnections::giveBack(std::unique_ptr<LineDb> db, const LineDbError& error) {
  std::lock_guard lock(mutex_);
  --lent_;
  if (error.kind != LineDbFailure::None) ++failures_;
  if (error.kind == LineDbFailure::CannotConnect) {
    // The server went away under this connection: the others are likely
    // broken too, and are dropped rather than failing one request each.
    reachable_ = false;
    lastFailedOpen_ = {};
    lastOpenError_ = error;
    idle_.clear();
  }
  if (db) idle_.push_back(std::move(db));
  freed_.notify_one();
}

std::uint64_t LineConnections::failures() const {
  std::lock_guard lock(mutex_);
  return failures_;
}

bool LineConnections::reachable() const {
  std::lock_guard lock(mutex_);
  return reachable_;
}

}  // namespace voltrix

#include "record/ResultsWriter.h"

#include <algorithm>
#include <utility>

#include "record/LogCatchUp.h"

namespace voltrix {

namespace {

// Records lost by the log that wait for the database, at most.
constexpr std::size_t kMostNotInLog = 10000;
// Control requests that wait for the database, at most.
constexpr std::size_t kMostControlsPending = 10000;

}  // namespace

ResultsWriter::ResultsWriter(std::string dbPath, std::string logPath, Timing timing)
    : dbPath_(std::move(dbPath)),
      logPath_(std::move(logPath)),
      timing_(timing),
      thread_([this] { work(); }) {}

ResultsWriter::~ResultsWriter() {
  finish(std::chrono::milliseconds(0));
}

void ResultsWriter::submit(std::string line, bool inLog) {
  {
    const std::lock_guard lock(mutex_);
    queue_.push_back({std::move(line), inLog});
  }
  wake_.notify_one();
}

void ResultsWriter::submitControl(ControlAuditEntry entry) {
  {
    const std::lock_guard lock(mutex_);
    controls_.push_back(std::move(entry));
  }
  wake_.notify_one();
}

void ResultsWriter::finish(std::chrono::milliseconds limit) {
  if (!thread_.joinable()) return;
  {
    std::unique_lock lock(mutex_);
    settled_.wait_for(lock, limit, [this] {
      return behind_.has_value() ||
             (queue_.empty() && controls_.empty() && !writing_ && !firstRound_);
    });
    stop_ = true;
  }
  // A write waiting for another connection's lock gives up at once.
  giveUp_ = true;
  wake_.notify_one();
  thread_.join();
}

std::vector<ResultsNotice> ResultsWriter::takeNotices() {
  const std::lock_guard lock(mutex_);
  return std::exchange(notices_, {});
}

std::optional<std::string> ResultsWriter::behind() const {
  const std::lock_guard lock(mutex_);
  return behind_;
}

bool ResultsWriter::waitCaughtUp(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return settled_.wait_for(lock, limit, [this] {
    return !behind_ && queue_.empty() && controls_.empty() && !writing_ && !firstRound_;
  });
}

void ResultsWriter::work() {
  auto retry = timing_.firstRetry;
  Clock::time_point retryAt{};
  for (;;) {
    std::vector<Pending> batch;
    std::deque<ControlAuditEntry> controls;
    {
      std::unique_lock lock(mutex_);
      const auto due = [&] {
        if (stop_) return true;
        if (behind_) return Clock::now() >= retryAt;
        return firstRound_ || !queue_.empty() || !controls_.empty();
      };
      while (!due()) {
        if (behind_) {
          wake_.wait_until(lock, retryAt);
        } else {
          wake_.wait(lock);
        }
      }
      if (stop_) return;
      batch.assign(std::make_move_iterator(queue_.begin()), std::make_move_iterator(queue_.end()));
      queue_.clear();
      controls.swap(controls_);
      writing_ = true;
    }
    ResultsDbError error;
    const bool written = writeRound(batch, controls, error);
    {
      const std::lock_guard lock(mutex_);
      writing_ = false;
      firstRound_ = false;
      if (written) {
        if (behind_) notices_.push_back({ResultsNotice::Kind::CaughtUp, {}, {}, false, 0});
        behind_.reset();
        retry = timing_.firstRetry;
      } else {
        fellBehind(error);
        retryAt = Clock::now() + retry;
        retry = std::min(retry * 2, timing_.longestRetry);
      }
    }
    settled_.notify_all();
  }
}

bool ResultsWriter::writeRound(std::vector<Pending>& batch, std::deque<ControlAuditEntry>& controls,
                               ResultsDbError& error) {
  // What the log lost goes with this round; what the log kept is read from
  // it again when this round fails.
  for (Pending& pending : batch) {
    if (!pending.inLog) notInLog_.push_back(std::move(pending));
  }
  while (notInLog_.size() > kMostNotInLog) notInLog_.pop_front();
  for (ControlAuditEntry& entry : controls) controlsPending_.push_back(std::move(entry));
  while (controlsPending_.size() > kMostControlsPending) controlsPending_.pop_front();
  const auto failed = [this] {
    // Opened again next round: the file may have been replaced meanwhile.
    db_.reset();
    return false;
  };
  if (!db_) {
    ResultsDb::Options options;
    options.busyTimeout = timing_.busyTimeout;
    options.giveUp = [this] { return giveUp_.load(); };
    db_ = ResultsDb::open(dbPath_, std::move(options), error);
    if (!db_) return false;
  }
  // The log first: it holds every record of the batch it kept, in order.
  const CatchUp caughtUp = catchUpFromLog(*db_, logPath_);
  if (!caughtUp.ok) {
    error = caughtUp.error;
    return failed();
  }
  if (caughtUp.skipped > 0) {
    const std::lock_guard lock(mutex_);
    notices_.push_back({ResultsNotice::Kind::SkippedLines, {}, {}, false, caughtUp.skipped});
  }
  if (notInLog_.empty() && controlsPending_.empty()) return true;
  if (!db_->begin(error)) return failed();
  for (const Pending& pending : notInLog_) {
    if (db_->insertRecord(pending.line, error) == ResultsDb::Insert::Failed) {
      db_->rollback();
      return failed();
    }
  }
  for (const ControlAuditEntry& entry : controlsPending_) {
    if (!db_->recordControl(entry, error)) {
      db_->rollback();
      return failed();
    }
  }
  if (!db_->commit(error)) return failed();
  notInLog_.clear();
  controlsPending_.clear();
  return true;
}

// Called with the mutex held.
void ResultsWriter::fellBehind(const ResultsDbError& error) {
  ResultsNotice notice;
  notice.kind = ResultsNotice::Kind::Behind;
  notice.failure = error.kind;
  notice.reason = error.text.empty() ? resultsDbFailureName(error.kind) : error.text;
  notice.firstOfKind = told_.insert(error.kind).second;
  const bool changed = !behind_ || *behind_ != "database behind: " + notice.reason;
  behind_ = "database behind: " + notice.reason;
  if (changed) notices_.push_back(std::move(notice));
}

}  // namespace voltrix

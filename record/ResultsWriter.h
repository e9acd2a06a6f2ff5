#pragma once
// The results database's writer: a thread of its own that takes the
// records handed to it, catches the database up with the log and inserts
// them. A write that fails leaves the database behind: the failure is told
// once per kind, and the writer tries again a little later, reading the
// log from where the database stopped. The flashing threads only ever put
// a line in its queue.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "record/ResultsDb.h"
#include "record/ResultsStore.h"

namespace voltrix {

class ResultsWriter final : public ResultsFeed {
 public:
  struct Timing {
    std::chrono::milliseconds busyTimeout{2000};  // per write, for another's lock
    std::chrono::milliseconds firstRetry{1000};   // after a failure; doubles
    std::chrono::milliseconds longestRetry{30000};
  };

  ResultsWriter(std::string dbPath, std::string logPath, Timing timing);
  ResultsWriter(std::string dbPath, std::string logPath)
      : ResultsWriter(std::move(dbPath), std::move(logPath), Timing{}) {}
  ~ResultsWriter() override;
  ResultsWriter(const ResultsWriter&) = delete;
  ResultsWriter& operator=(const ResultsWriter&) = delete;

  void submit(std::string line, bool inLog) override;
  void submitControl(ControlAuditEntry entry) override;
  void finish(std::chrono::milliseconds limit) override;
  std::vector<ResultsNotice> takeNotices() override;
  std::optional<std::string> behind() const override;

  // For tests: waits at most `limit` until nothing is waiting to be written
  // and the last write succeeded.
  bool waitCaughtUp(std::chrono::milliseconds limit);

 private:
  struct Pending {
    std::string line;
    bool inLog = true;
  };
  using Clock = std::chrono::steady_clock;

  void work();
  // One round on the writer's thread: open, catch up with the log, insert.
  bool writeRound(std::vector<Pending>& batch, std::deque<ControlAuditEntry>& controls,
                  ResultsDbError& error);
  void fellBehind(const ResultsDbError& error);

  const std::string dbPath_, logPath_;
  const Timing timing_;
  std::unique_ptr<ResultsDb> db_;  // the writer's thread's only
  // Records that the log lost, kept until the database has them: they
  // cannot be caught up. Bounded, as a database that never comes back
  // must not eat the memory.
  std::deque<Pending> notInLog_;
  std::deque<ControlAuditEntry> controlsPending_;  // likewise

  mutable std::mutex mutex_;
  std::condition_variable wake_, settled_;
  std::deque<Pending> queue_;
  std::deque<ControlAuditEntry> controls_;
  bool firstRound_ = true;
  bool writing_ = false;
  bool stop_ = false;
  std::atomic<bool> giveUp_{false};
  std::optional<std::string> behind_;
  std::set<ResultsDbFailure> told_;
  std::vector<ResultsNotice> notices_;
  std::thread thread_;  // last: it starts once everything above exists
};

}  // namespace voltrix

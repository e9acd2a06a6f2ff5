#include "uplink/Uplink.h"

#include <algorithm>
#include <utility>

#include "record/FileIdentity.h"

namespace voltrix::uplink {

namespace {

std::int64_t microsecondsNow() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::uint64_t logSize(const std::string& path) {
  const auto file = fileIdentity(path);
  return file ? file->size : 0;
}

// How a refused record is named: its id, or the start of the line.
std::string recordName(const std::string& line) {
  const JsonDocument record = JsonDocument::parse(line, nullptr, false);
  if (record.is_object() && record.contains("id") && record["id"].is_string()) {
    return record["id"].get<std::string>();
  }
  return "'" + line.substr(0, 60) + (line.size() > 60 ? "...'" : "'");
}

std::string fileName(const JsonDocument& path) {
  if (!path.is_string()) return "";
  const std::string text = path.get<std::string>();
  const auto slash = text.find_last_of("/\\");
  return slash == std::string::npos ? text : text.substr(slash + 1);
}

}  // namespace

Uplink::Uplink(UplinkSettings settings, StationObserver& reporter)
    : settings_(std::move(settings)),
      reporter_(reporter),
      client_(settings_.line),
      outbox_(settings_.logPath),
      readableTo_(logSize(settings_.logPath)),
      changedAt_(microsecondsNow()),
      thread_([this] { work(); }) {}

Uplink::~Uplink() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void Uplink::changed() {
  changedAt_ = microsecondsNow();
  if (stateDirty_.exchange(true)) return;
  // Taken once, so that the thread either saw the flag or waits already.
  { const std::lock_guard lock(mutex_); }
  wake_.notify_one();
}

void Uplink::runFinished(const RunFinished& event) {
  changed();
  // The station told it only once the log kept it, and synced it.
  if (!event.logRecordLost) readableTo_ = logSize(settings_.logPath);
  {
    const std::lock_guard lock(mutex_);
    recordsDue_ = true;
  }
  wake_.notify_one();
}

void Uplink::passDone(const StationPass& event) {
  if (event.paused != lastPaused_ || event.draining != lastDraining_) {
    lastPaused_ = event.paused;
    lastDraining_ = event.draining;
    changed();
  }
  tellNotices();
}

void Uplink::stationFinished(const StationFinished&) {
  changed();
  tellNotices();
}

void Uplink::jobNotice(const StationJobNotice& notice) {
  if (notice.kind == StationJobNotice::Kind::Refused) return;
  {
    const std::lock_guard lock(mutex_);
    jobImage_ = {{"name", notice.jobName}, {"sha256", notice.sha256}};
  }
  changed();
}

void Uplink::tellNotices() {
  const std::lock_guard telling(tellMutex_);
  std::deque<LineNotice> notices;
  {
    const std::lock_guard lock(mutex_);
    notices.swap(notices_);
  }
  for (const LineNotice& notice : notices) reporter_.lineNotice(notice);
}

void Uplink::queueNotice(LineNotice::Kind kind, std::string refused) {
  LineNotice notice;
  notice.kind = kind;
  notice.url = settings_.line.address.url;
  notice.records = waiting_.records;
  notice.lastError = lastError_;
  notice.refused = std::move(refused);
  if (kind == LineNotice::Kind::Progress && !notices_.empty() &&
      notices_.back().kind == LineNotice::Kind::Progress) {
    notices_.back() = std::move(notice);
    return;
  }
  notices_.push_back(std::move(notice));
}

// On the thread: what waits now, told when it changed.
void Uplink::updateWaiting() {
  const Outbox::Waiting waiting = outbox_.waiting(readableTo_);
  const std::lock_guard lock(mutex_);
  if (waiting.records == waiting_.records && waiting.oldest == waiting_.oldest) return;
  waiting_ = waiting;
  queueNotice(LineNotice::Kind::Progress);
  stateDirty_ = true;
}

std::uint64_t Uplink::finish(std::chrono::milliseconds limit) {
  if (thread_.joinable()) {
    {
      const std::lock_guard lock(mutex_);
      finishing_ = true;
      finishBy_ = Clock::now() + limit;
      recordsDue_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }
  updateWaiting();
  {
    const std::lock_guard lock(mutex_);
    queueNotice(LineNotice::Kind::Left);
  }
  tellNotices();
  return waiting_.records;
}

void Uplink::work() {
  auto retry = settings_.firstRetry;
  Clock::time_point retryAt{};
  Clock::time_point lastState{};
  bool finalStatePosted = false;
  bool flushing = false;
  for (;;) {
    bool sendNow = false, stateNow = false, finalNow = false;
    {
      std::unique_lock lock(mutex_);
      for (;;) {
        const auto now = Clock::now();
        if (stop_) return;
        // While the line cannot be reached the state waits for the heartbeat.
        const auto stateAt = (stateDirty_ && !unreachable_) ? lastState + settings_.statePeriod
                                                            : lastState + settings_.heartbeat;
        if (finishing_ && !flushing) {
          // At the end every record waiting gets a try at once.
          flushing = true;
          retry = settings_.firstRetry;
          retryAt = {};
        }
        if (finishing_) {
          if (now >= finishBy_ || tokenRefused_ || recordRefused_ ||
              (!recordsDue_ && finalStatePosted)) {
            return;
          }
        }
        sendNow = recordsDue_ && now >= retryAt;
        // The last state once the records are through, with the outbox as
        // it ends.
        finalNow = finishing_ && !finalStatePosted && !recordsDue_;
        stateNow = now >= stateAt || finalNow;
        if (sendNow || stateNow) break;
        auto until = stateAt;
        if (recordsDue_) until = std::min(until, retryAt);
        if (finishing_) until = std::min(until, finishBy_);
        wake_.wait_until(lock, until);
      }
    }
    if (stateNow) {
      finalStatePosted = finalStatePosted || finalNow;
      lastState = Clock::now();
      postState();
    }
    if (!sendNow) continue;
    // A failure is told with the count waiting.
    updateWaiting();
    const Round round = sendRecords();
    updateWaiting();
    const std::lock_guard lock(mutex_);
    switch (round) {
      case Round::Drained:
        recordsDue_ = false;
        break;
      case Round::Sent:
        retry = settings_.firstRetry;
        retryAt = {};
        break;
      case Round::Failed:
        // A refused token or record is not mended by trying often.
        retryAt = Clock::now() + (tokenRefused_ || recordRefused_ ? settings_.longestRetry : retry);
        retry = std::min(retry * 2, settings_.longestRetry);
        break;
    }
  }
}

Uplink::Round Uplink::sendRecords() {
  Outbox::Batch batch = outbox_.next(batchLimit_, kMostBytesPerPost, readableTo_);
  std::string error;
  const auto failed = [&](LineNotice::Kind kind, const std::string& text) {
    const std::lock_guard lock(mutex_);
    lastError_ = text;
    tokenRefused_ = kind == LineNotice::Kind::TokenRefused;
    recordRefused_ = false;
    if (tokenRefused_) {
      if (!toldToken_) queueNotice(kind);
      toldToken_ = true;
    } else if (!unreachable_) {
      queueNotice(kind);
    }
    unreachable_ = true;
    stateDirty_ = true;
    return Round::Failed;
  };
  if (batch.lines.empty()) {
    // Blank lines alone: passed over for good.
    if (batch.end > outbox_.sent() && !outbox_.markSent(batch.end, error)) {
      return failed(LineNotice::Kind::Unreachable, "progress file: " + error);
    }
    return Round::Drained;
  }
  std::string body;
  for (const Outbox::Line& line : batch.lines) body += line.text + "\n";
  const LineAnswer answer = client_.postRecords(body);
  switch (answer.kind) {
    case LineAnswer::Kind::Taken: {
      if (!outbox_.markSent(batch.end, error)) {
        return failed(LineNotice::Kind::Unreachable, "progress file: " + error);
      }
      batchLimit_ = std::min(batchLimit_ * 2, kMostLinesPerPost);
      const std::lock_guard lock(mutex_);
      tokenRefused_ = false;
      recordRefused_ = false;
      toldRefused_.clear();
      if (unreachable_) {
        unreachable_ = false;
        lastError_.clear();
        queueNotice(LineNotice::Kind::Back);
      }
      lastError_.clear();
      stateDirty_ = true;
      return Round::Sent;
    }
    case LineAnswer::Kind::TokenRefused:
      return failed(LineNotice::Kind::TokenRefused, "refused: token (" + answer.text + ")");
    case LineAnswer::Kind::TooLarge:
    case LineAnswer::Kind::Bad: {
      if (batch.lines.size() > 1) {
        // Halved until the batch fits, or until the one line refused is
        // found; grown back with each batch taken.
        batchLimit_ = std::max<std::size_t>(1, batch.lines.size() / 2);
        return Round::Sent;
      }
      // One record the line calls bad is never passed over: the line
      // counts a line that is no record as such and takes the rest, so a
      // 400 for one record says the URL is some other server's, or the
      // line is older than this station. A record marked sent here would
      // be lost to the line for good; it waits instead, with those after
      // it, and is offered again now and then.
      const std::string name = recordName(batch.lines.front().text);
      const std::lock_guard lock(mutex_);
      lastError_ = answer.text;
      tokenRefused_ = false;
      recordRefused_ = true;
      if (name != toldRefused_) queueNotice(LineNotice::Kind::RecordRefused, name);
      toldRefused_ = name;
      stateDirty_ = true;
      return Round::Failed;
    }
    case LineAnswer::Kind::Unavailable:
      break;
  }
  return failed(LineNotice::Kind::Unreachable, answer.text);
}

void Uplink::postState() {
  stateDirty_ = false;
  const JsonDocument live = settings_.liveState ? settings_.liveState() : JsonDocument();
  if (!live.is_object() || !live["station"]["name"].is_string()) return;  // not started yet
  JsonDocument state;
  state["station"] = live["station"]["name"];
  state["version"] = live["station"]["version"];
  state["t"] = changedAt_.load();
  state["image"] = {{"name", fileName(live["station"]["image"]["path"])},
                    {"sha256", live["station"]["image"]["sha256"]}};
  {
    const std::lock_guard lock(mutex_);
    // StationStarted names the image the station began with; a job swapped
    // in since is the one the next devices get.
    if (jobImage_.is_object()) state["image"] = jobImage_;
    state["outbox"] = {{"records", waiting_.records},
                       {"bytes", waiting_.bytes},
                       {"oldest", textOrNull(waiting_.oldest)},
                       {"lastError", textOrNull(lastError_)}};
  }
  state["counts"] = live["counts"];
  state["slots"] = live["slots"];
  // Best effort: the next change, or the heartbeat, sends a newer one.
  client_.postState(jsonLine(state));
}

}  // namespace voltrix::uplink

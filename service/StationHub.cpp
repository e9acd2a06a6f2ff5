#include "service/StationHub.h"

#include <cstdio>

#include "record/TraceLog.h"
#include "voltrix/Version.h"

namespace voltrix::service {

namespace {

const char* stateName(int state) {
  static const char* const kNames[] = {"waiting", "flashing", "verified", "failed"};
  return kNames[state];
}

const char* resultName(RunSummary::Result result) {
  switch (result) {
    case RunSummary::Result::Verified:
      return "verified";
    case RunSummary::Result::Refused:
      return "refused";
    case RunSummary::Result::Failed:
      break;
  }
  return "failed";
}

std::string yieldText(int verified, int failed) {
  if (verified + failed == 0) return "";
  char text[16];
  std::snprintf(text, sizeof text, "%.1f%%", 100.0 * verified / (verified + failed));
  return text;
}

}  // namespace

StationHub::StationHub() : secondsBuckets_(std::size(kSecondsBuckets), 0) {
  station_["name"] = nullptr;
  station_["image"] = {{"path", nullptr}, {"sha256", nullptr}};
  station_["version"] = kVoltrixVersion;
}

StationHub::Slot& StationHub::slotAt(std::size_t index) {
  if (slots_.size() <= index) slots_.resize(index + 1);
  return slots_[index];
}

JsonDocument StationHub::slotJson(std::size_t index) const {
  const Slot& slot = slots_[index];
  JsonDocument json;
  json["device"] = index;
  json["name"] = slot.name;
  json["port"] = slot.port;
  json["slot"] = textOrNull(slot.slot);
  json["state"] = stateName(static_cast<int>(slot.state));
  json["status"] = slot.progress.statusText;
  json["percent"] = slot.progress.percent;
  json["segment"] = slot.progress.segment;
  json["segments"] = slot.progress.segmentCount;
  json["note"] = textOrNull(slot.note);
  json["last_result"] = textOrNull(slot.lastResult);
  json["last_result_at"] = textOrNull(slot.lastResultAt);
  json["verified"] = slot.verified;
  json["failed"] = slot.failed;
  json["yield"] = textOrNull(yieldText(slot.verified, slot.failed));
  return json;
}

JsonDocument StationHub::countsJson() const {
  JsonDocument json;
  json["verified"] = verified_;
  json["failed"] = failed_;
  json["yield"] = textOrNull(yieldText(verified_, failed_));
  json["paused"] = paused_;
  json["draining"] = draining_;
  json["finished"] = finished_;
  json["exit_code"] = finished_ ? JsonDocument(exitCode_) : JsonDocument(nullptr);
  json["database"] = textOrNull(databaseBehind_);
  return json;
}

JsonDocument StationHub::slotsJson() const {
  const std::lock_guard lock(mutex_);
  JsonDocument json;
  json["station"] = station_;
  json["counts"] = countsJson();
  json["slots"] = JsonDocument::array();
  for (std::size_t i = 0; i < slots_.size(); ++i) json["slots"].push_back(slotJson(i));
  json["line"] = line_;
  json["event"] = lastEvent_;
  return json;
}

std::string StationHub::metricsText() const {
  const std::lock_guard lock(mutex_);
  std::string text;
  char line[160];
  text += "# HELP voltrix_runs_total Finished runs by result.\n# TYPE voltrix_runs_total counter\n";
  std::snprintf(line, sizeof line, "voltrix_runs_total{result=\"verified\"} %d\n", verified_);
  text += line;
  std::snprintf(line, sizeof line, "voltrix_runs_total{result=\"failed\"} %d\n", failed_);
  text += line;
  text += "# HELP voltrix_run_seconds How long a run took.\n# TYPE voltrix_run_seconds histogram\n";
  std::uint64_t below = 0;
  for (std::size_t i = 0; i < secondsBuckets_.size(); ++i) {
    below += secondsBuckets_[i];
    std::snprintf(line, sizeof line, "voltrix_run_seconds_bucket{le=\"%g\"} %llu\n",
                  kSecondsBuckets[i], static_cast<unsigned long long>(below));
    text += line;
  }
  std::snprintf(line, sizeof line,
                "voltrix_run_seconds_bucket{le=\"+Inf\"} %llu\nvoltrix_run_seconds_sum %.3f\n"
                "voltrix_run_seconds_count %llu\n",
                static_cast<unsigned long long>(runs_), secondsSum_,
                static_cast<unsigned long long>(runs_));
  text += line;
  int busy = 0;
  for (const Slot& slot : slots_) busy += slot.state == State::Flashing ? 1 : 0;
  std::snprintf(line, sizeof line,
                "# HELP voltrix_slots_busy Devices being flashed now.\n"
                "# TYPE voltrix_slots_busy gauge\nvoltrix_slots_busy %d\n",
                busy);
  text += line;
  std::snprintf(line, sizeof line,
                "# HELP voltrix_bytes_written_total Bytes written and verified.\n"
                "# TYPE voltrix_bytes_written_total counter\nvoltrix_bytes_written_total %llu\n",
                static_cast<unsigned long long>(bytesWritten_));
  text += line;
  return text;
}

StationHub::Events StationHub::eventsAfter(std::uint64_t after,
                                           std::chrono::milliseconds wait) const {
  std::unique_lock lock(mutex_);
  news_.wait_for(lock, wait, [&] { return closed_ || lastEvent_ > after; });
  Events events;
  events.last = lastEvent_;
  events.ended = closed_;
  const std::uint64_t first = lastEvent_ - events_.size() + 1;  // the oldest kept
  if (after + 1 < first) {
    events.lost = true;
    return events;
  }
  for (std::uint64_t number = after + 1; number <= lastEvent_; ++number) {
    events.lines.push_back(events_[number - first]);
  }
  return events;
}

std::uint64_t StationHub::lastEvent() const {
  const std::lock_guard lock(mutex_);
  return lastEvent_;
}

void StationHub::close() {
  const std::lock_guard lock(mutex_);
  closed_ = true;
  news_.notify_all();
}

void StationHub::publish(JsonDocument event) {
  event["id"] = ++lastEvent_;
  event["t"] = std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
                   .count();  // µs: how late a client learns of it
  event["counts"] = countsJson();
  event["line"] = line_;
  events_.push_back(jsonLine(event));
  while (events_.size() > kKeptEvents) events_.pop_front();
  news_.notify_all();
}

void StationHub::publishSlot(const char* type, std::size_t index) {
  publish({{"type", type}, {"slot", slotJson(index)}});
}

void StationHub::stationStarted(const StationStarted& event) {
  const std::lock_guard lock(mutex_);
  station_["name"] = textOrNull(event.station);
  station_["image"] = {{"path", textOrNull(event.imagePath)},
                       {"sha256", textOrNull(event.imageSha256)}};
  publish({{"type", "station_started"}, {"station", station_}});
}

void StationHub::deviceAppeared(const DeviceAppeared& event) {
  const std::lock_guard lock(mutex_);
  Slot& slot = slotAt(event.device);
  slot.name = event.target.name;
  slot.port = event.target.port;
  slot.slot = event.target.slot;
  publishSlot("device_appeared", event.device);
}

void StationHub::runStarted(const RunStarted& event) {
  const std::lock_guard lock(mutex_);
  Slot& slot = slotAt(event.device);
  slot.state = State::Flashing;
  slot.progress = event.progress;
  slot.note.clear();
  publishSlot("run_started", event.device);
}

void StationHub::progressChanged(const DeviceProgress& event) {
  const std::lock_guard lock(mutex_);
  slotAt(event.device).progress = event;
  publishSlot("progress", event.device);
}

void StationHub::portBusyRetry(const PortBusyRetry& event) {
  const std::lock_guard lock(mutex_);
  // Nothing is written while another program holds the port: the device
  // waits for it, and the next try's start makes it flashing again.
  Slot& slot = slotAt(event.device);
  slot.state = State::Waiting;
  slot.note = "port busy, trying again (attempt " + std::to_string(event.nextAttempt) + ")";
  publishSlot("port_busy_retry", event.device);
}

void StationHub::runFinished(const RunFinished& event) {
  JsonDocument record = JsonDocument::parse(event.record, nullptr, false);
  if (record.is_discarded()) record = nullptr;
  const std::lock_guard lock(mutex_);
  Slot& slot = slotAt(event.device);
  const bool verified = event.summary.result == RunSummary::Result::Verified;
  slot.state = verified ? State::Verified : State::Failed;
  slot.note.clear();
  slot.lastResult = summaryLine(event.summary);
  slot.lastResultAt = utcTimestamp(event.ended);
  // The failed slot shows the system's own text: the run's last status.
  if (!verified && !event.summary.status.empty()) slot.progress.statusText = event.summary.status;
  (verified ? slot.verified : slot.failed) += 1;
  (verified ? verified_ : failed_) += 1;
  ++runs_;
  secondsSum_ += event.summary.seconds;
  for (std::size_t i = 0; i < secondsBuckets_.size(); ++i) {
    if (event.summary.seconds <= kSecondsBuckets[i]) {
      ++secondsBuckets_[i];
      break;
    }
  }
  bytesWritten_ += event.summary.bytes;
  JsonDocument json = {{"type", "run_finished"}, {"slot", slotJson(event.device)}};
  json["result"] = resultName(event.summary.result);
  json["record"] = std::move(record);
  json["hints"] = textOrNull(event.hints);
  json["log_record_lost"] =
      event.logRecordLost ? textOrNull(event.logRecordLost->reason) : JsonDocument(nullptr);
  publish(std::move(json));
}

void StationHub::warning(const StationWarning& event) {
  const std::lock_guard lock(mutex_);
  publish({{"type", "warning"}, {"label", event.label}});
}

void StationHub::refused(const StationRefused& event) {
  const std::lock_guard lock(mutex_);
  publish({{"type", "refused"},
           {"text", refusalText(event.refusal)},
           {"hint", textOrNull(event.hint)}});
}

void StationHub::logUnavailable(const std::string& error) {
  const std::lock_guard lock(mutex_);
  publish({{"type", "log_unavailable"}, {"error", error}});
}

void StationHub::passDone(const StationPass& event) {
  const std::lock_guard lock(mutex_);
  // Passes come many times a second: only a change of the station's mode
  // is news.
  if (event.paused == paused_ && event.draining == draining_ &&
      event.databaseBehind == databaseBehind_) {
    return;
  }
  paused_ = event.paused;
  draining_ = event.draining;
  databaseBehind_ = event.databaseBehind;
  publish({{"type", "station"}});
}

void StationHub::lineNotice(const LineNotice& notice) {
  JsonDocument line = {{"url", notice.url},
                       {"records", notice.records},
                       {"lastError", textOrNull(notice.lastError)}};
  const std::lock_guard lock(mutex_);
  if (line == line_ && notice.kind != LineNotice::Kind::RecordRefused) return;
  line_ = std::move(line);
  JsonDocument event = {{"type", "line"}};
  if (notice.kind == LineNotice::Kind::RecordRefused) event["refused"] = notice.refused;
  publish(std::move(event));
}

void StationHub::stationFinished(const StationFinished& event) {
  const std::lock_guard lock(mutex_);
  finished_ = true;
  exitCode_ = event.exitCode;
  for (Slot& slot : slots_) {
    if (slot.state == State::Flashing) slot.state = State::Failed;
  }
  publish({{"type", "station_finished"}, {"cancelled", event.cancelled}});
}

}  // namespace voltrix::service

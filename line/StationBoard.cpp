#include "line/StationBoard.h"

#include "record/TraceLog.h"

namespace voltrix {

namespace {

constexpr std::size_t kMostNameBytes = 200;

// A label's value in the metrics' text: backslash, quote and line break
// escaped, as Prometheus reads them.
std::string labelValue(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    if (c == '\\' || c == '"') escaped += '\\';
    if (c == '\n') {
      escaped += "\\n";
      continue;
    }
    escaped += c;
  }
  return escaped;
}

}  // namespace

bool StationBoard::takeState(JsonDocument state, Clock::time_point now, std::string& error) {
  const auto name = state.find("station");
  if (!state.is_object() || name == state.end() || !name->is_string() ||
      name->get_ref<const std::string&>().empty() ||
      name->get_ref<const std::string&>().size() > kMostNameBytes) {
    error = "a station's state is a JSON object with its name in \"station\"";
    return false;
  }
  const std::string station = name->get<std::string>();
  std::lock_guard lock(mutex_);
  if (!stations_.contains(station) && stations_.size() >= kMostStations) {
    error = "too many stations (" + std::to_string(kMostStations) + ")";
    return false;
  }
  Station& kept = stations_[station];
  kept.state = std::move(state);
  kept.heard = now;
  kept.heardAt = std::chrono::system_clock::now();
  kept.away = false;
  publish("station", stationJson(kept, now));
  return true;
}

void StationBoard::jobPublished(const JsonDocument& job) {
  std::lock_guard lock(mutex_);
  publish("job", job);
}

void StationBoard::recordsTaken(const std::string& station, std::size_t received,
                                const LineInsertCount& count) {
  std::lock_guard lock(mutex_);
  Tally& tally = records_[station];
  tally.received += received;
  tally.added += count.added;
  tally.known += count.known;
  tally.notRecords += count.notRecords;
  if (count.added > 0) {
    publish("runs", {{"station", station},
                     {"added", count.added},
                     {"known", count.known},
                     {"notRecords", count.notRecords}});
  }
}

void StationBoard::countPost(const char* route, int status) {
  std::lock_guard lock(mutex_);
  ++posts_[{route, status}];
}

void StationBoard::noteAway(Clock::time_point now) {
  std::lock_guard lock(mutex_);
  for (auto& [name, station] : stations_) {
    if (!station.away && now - station.heard >= kAwayAfter) {
      station.away = true;
      publish("station", stationJson(station, now));
    }
  }
}

JsonDocument StationBoard::stationJson(const Station& station, Clock::time_point now) const {
  JsonDocument json = station.state;
  json["away"] = now - station.heard >= kAwayAfter;
  json["heard_at"] = utcTimestamp(station.heardAt);
  return json;
}

JsonDocument StationBoard::stationsJson(Clock::time_point now) const {
  std::lock_guard lock(mutex_);
  JsonDocument list = JsonDocument::array();
  for (const auto& [name, station] : stations_) list.push_back(stationJson(station, now));
  return {{"event", lastEvent_}, {"stations", std::move(list)}};
}

std::string StationBoard::metricsText(Clock::time_point now, std::size_t eventStreams,
                                      std::uint64_t databaseFailures) const {
  std::lock_guard lock(mutex_);
  std::string text;
  const auto family = [&text](const char* name, const char* type, const char* help) {
    text += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
  };
  family("voltrix_line_records_received_total", "counter", "Log lines posted, by station.");
  family("voltrix_line_records_added_total", "counter", "Records new to the database.");
  family("voltrix_line_records_known_total", "counter", "Records the database had already.");
  for (const auto& [station, tally] : records_) {
    const std::string label = "{station=\"" + labelValue(station) + "\"} ";
    text += "voltrix_line_records_received_total" + label + std::to_string(tally.received) + "\n";
    text += "voltrix_line_records_added_total" + label + std::to_string(tally.added) + "\n";
    text += "voltrix_line_records_known_total" + label + std::to_string(tally.known) + "\n";
  }
  family("voltrix_line_posts_total", "counter", "Posts answered, by route and status.");
  for (const auto& [key, count] : posts_) {
    text += "voltrix_line_posts_total{route=\"" + key.first + "\",status=\"" +
            std::to_string(key.second) + "\"} " + std::to_string(count) + "\n";
  }
  std::size_t away = 0;
  for (const auto& [name, station] : stations_) away += now - station.heard >= kAwayAfter;
  family("voltrix_line_stations_seen", "gauge", "Stations that posted their state.");
  text += "voltrix_line_stations_seen " + std::to_string(stations_.size()) + "\n";
  family("voltrix_line_stations_away", "gauge", "Stations not heard from for 30 s.");
  text += "voltrix_line_stations_away " + std::to_string(away) + "\n";
  family("voltrix_line_event_streams", "gauge", "Event-stream clients connected.");
  text += "voltrix_line_event_streams " + std::to_string(eventStreams) + "\n";
  family("voltrix_line_database_failures_total", "counter",
         "Requests the database could not serve.");
  text += "voltrix_line_database_failures_total " + std::to_string(databaseFailures) + "\n";
  return text;
}

void StationBoard::publish(const char* type, const JsonDocument& data) {
  ++lastEvent_;
  events_.push_back("id: " + std::to_string(lastEvent_) + "\nevent: " + type +
                    "\ndata: " + jsonLine(data) + "\n\n");
  keptBytes_ += events_.back().size();
  while (events_.size() > 1 && (events_.size() > kKeptEvents || keptBytes_ > kMostKeptBytes)) {
    keptBytes_ -= events_.front().size();
    events_.pop_front();
  }
  news_.notify_all();
}

StationBoard::Events StationBoard::eventsAfter(std::uint64_t after,
                                               std::chrono::milliseconds wait) const {
  std::unique_lock lock(mutex_);
  news_.wait_for(lock, wait, [&] { return closed_ || lastEvent_ > after; });
  Events events;
  events.last = lastEvent_;
  events.ended = closed_;
  const std::uint64_t first = lastEvent_ - events_.size();  // the number before the oldest
  if (after < first) {
    events.lost = true;
    return events;
  }
  for (std::uint64_t number = after; number < lastEvent_; ++number) {
    events.text += events_[number - first];
  }
  return events;
}

std::uint64_t StationBoard::lastEvent() const {
  std::lock_guard lock(mutex_);
  return lastEvent_;
}

void StationBoard::close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  news_.notify_all();
}

}  // namespace voltrix

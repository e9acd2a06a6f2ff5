// The line's read routes: the page, the stations, the runs, the yield, the
// failures, the export, the metrics and the event stream.

#include <httplib.h>

#include <charconv>

#include "line/LineAnswers.h"
#include "line/LinePage.h"
#include "line/LineQueries.h"
#include "line/LineServer.h"

namespace voltrix {

namespace {

constexpr std::size_t kDefaultRows = 100;
constexpr std::size_t kMostRows = 1000;
// An event stream waits this long at most for news before it looks whether
// a station went away or the line is stopping.
constexpr auto kStreamWake = std::chrono::milliseconds(500);
// After a write a stream lets the events of this long gather into its next.
constexpr auto kStreamGather = std::chrono::milliseconds(20);

std::optional<std::uint64_t> numberIn(const std::string& text) {
  std::uint64_t value = 0;
  const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (problem != std::errc() || end != text.data() + text.size() || text.empty()) {
    return std::nullopt;
  }
  return value;
}

// The parameter `limit`, from 1 to kMostRows; empty after a 400.
std::optional<std::size_t> rowLimit(const httplib::Request& request, httplib::Response& response) {
  if (!request.has_param("limit")) return kDefaultRows;
  const auto given = numberIn(request.get_param_value("limit"));
  if (!given || *given < 1 || *given > kMostRows) {
    answerError(response, 400, "limit is a number from 1 to " + std::to_string(kMostRows));
    return std::nullopt;
  }
  return static_cast<std::size_t>(*given);
}

// The time parameter `name`, when given; false after a 400.
bool timeParam(const httplib::Request& request, httplib::Response& response, const char* name,
               std::optional<LineTime>& time) {
  if (!request.has_param(name)) return true;
  time = parseLineTime(request.get_param_value(name));
  if (time) return true;
  answerError(response, 400,
              std::string(name) + " is a UTC time such as 2026-12-09T06:00:00Z or 2026-12-09");
  return false;
}

}  // namespace

void LineServer::routeReads() {
  // The page holds nothing of the line: it is open, and reads the API with
  // the token given after '#token=' in its address (or asked for).
  server_->Get("/", [](const httplib::Request&, httplib::Response& response) {
    response.set_header("Cache-Control", "no-store");
    response.set_header("Content-Security-Policy",
                        "default-src 'self'; style-src 'unsafe-inline'; script-src "
                        "'unsafe-inline'");
    response.set_content(std::string(linePage()), "text/html; charset=utf-8");
  });

  server_->Get("/api/stations",
               [this](const httplib::Request& request, httplib::Response& response) {
                 if (allowed(request, response, LineAccess::Read)) {
                   answerJson(response, board_.stationsJson(StationBoard::Clock::now()));
                 }
               });

  // One JSON answer read from the database by `query`.
  const auto fromDatabase = [this](httplib::Response& response, auto query) {
    JsonDocument answer;
    if (withDatabase(response, [&](LineDb& db, LineDbError& error) {
          LineQueries queries(db);
          auto read = query(queries, error);
          if (read) answer = std::move(*read);
          return read.has_value();
        })) {
      answerJson(response, answer);
    }
  };

  server_->Get("/api/runs",
               [this, fromDatabase](const httplib::Request& request, httplib::Response& response) {
                 if (!allowed(request, response, LineAccess::Read)) return;
                 const auto limit = rowLimit(request, response);
                 std::optional<LineTime> since;
                 if (!limit || !timeParam(request, response, "since", since)) return;
                 fromDatabase(response, [&](LineQueries& queries, LineDbError& error) {
                   return queries.recentRuns(*limit, since, error);
                 });
               });

  server_->Get("/api/yield",
               [this, fromDatabase](const httplib::Request& request, httplib::Response& response) {
                 if (!allowed(request, response, LineAccess::Read)) return;
                 fromDatabase(response, [](LineQueries& queries, LineDbError& error) {
                   return queries.yieldByHour(error);
                 });
               });

  server_->Get("/api/failures",
               [this, fromDatabase](const httplib::Request& request, httplib::Response& response) {
                 if (!allowed(request, response, LineAccess::Read)) return;
                 const auto limit = rowLimit(request, response);
                 if (!limit) return;
                 fromDatabase(response, [&](LineQueries& queries, LineDbError& error) {
                   return queries.latestFailures(*limit, error);
                 });
               });

  server_->Get("/api/export", [this](const httplib::Request& request, httplib::Response& response) {
    if (!allowed(request, response, LineAccess::Read)) return;
    const std::string format =
        request.has_param("format") ? request.get_param_value("format") : "csv";
    if (format != "csv" && format != "jsonl") {
      return answerError(response, 400, "format is csv or jsonl");
    }
    LineExportRange range;
    if (!timeParam(request, response, "from", range.from) ||
        !timeParam(request, response, "to", range.to)) {
      return;
    }
    // Once the stream began its status is sent: a database that is away is
    // told as a 503 before, by taking a connection first.
    if (!withDatabase(response, [](LineDb&, LineDbError&) { return true; })) return;
    const bool csv = format == "csv";
    response.set_header("Cache-Control", "no-store");
    response.set_header("Content-Disposition",
                        std::string("attachment; filename=\"voltrix-runs.") + format + "\"");
    response.set_chunked_content_provider(
        csv ? "text/csv; charset=utf-8" : "application/x-ndjson",
        [this, range, csv](std::size_t, httplib::DataSink& sink) {
          LineDbError error;
          const bool done = connections_.with(
              [&](LineDb& db, LineDbError& failure) {
                return db.exportRuns(
                    range, csv ? LineExportFormat::Csv : LineExportFormat::Jsonl,
                    [&sink](std::string_view piece) {
                      return sink.write(piece.data(), piece.size());
                    },
                    failure);
              },
              error);
          // A failure half-way ends the stream without its last chunk:
          // the client sees the download broken, never a short one whole.
          if (!done) return false;
          sink.done();
          return true;
        });
  });

  server_->Get("/metrics", [this](const httplib::Request& request, httplib::Response& response) {
    if (!allowed(request, response, LineAccess::Read)) return;
    response.set_content(
        board_.metricsText(StationBoard::Clock::now(), streams_, connections_.failures()) +
            jobMetrics(),
        "text/plain; version=0.0.4; charset=utf-8");
  });
}

void LineServer::routeEvents() {
  server_->Get("/api/events", [this](const httplib::Request& request, httplib::Response& response) {
    // A browser's EventSource cannot send a header: this route alone takes
    // the token as `?token=` too.
    if (!allowed(request, response, LineAccess::Read, true)) return;
    // After the browser's Last-Event-ID on a reconnection, or the number
    // /api/stations gave, or now.
    std::uint64_t after = board_.lastEvent();
    const std::string given = request.has_header("Last-Event-ID")
                                  ? request.get_header_value("Last-Event-ID")
                                  : request.get_param_value("after");
    if (!given.empty()) {
      const auto number = numberIn(given);
      if (!number) return answerError(response, 400, "after is an event's number");
      after = std::min(*number, after);
    }
    if (++streams_ > settings_.mostEventStreams) {
      --streams_;
      response.set_header("Retry-After", "5");
      return answerError(response, 503, "too many event streams open");
    }
    response.set_header("Cache-Control", "no-store");
    response.set_header("X-Accel-Buffering", "no");
    auto cursor = std::make_shared<std::uint64_t>(after);
    auto quietSince = std::make_shared<StationBoard::Clock::time_point>(StationBoard::Clock::now());
    response.set_chunked_content_provider(
        "text/event-stream",
        [this, cursor, quietSince](std::size_t, httplib::DataSink& sink) {
          if (stopping_) return false;
          board_.noteAway(StationBoard::Clock::now());
          StationBoard::Events events = board_.eventsAfter(*cursor, kStreamWake);
          // Fallen too far behind: closed, the page reloads its state.
          if (events.lost) return false;
          *cursor = events.last;
          const auto now = StationBoard::Clock::now();
          if (events.text.empty() && now - *quietSince >= settings_.keepAlive) {
            events.text = ": alive\n\n";
          }
          if (!events.text.empty()) {
            *quietSince = now;
            if (!sink.write(events.text.data(), events.text.size())) return false;
          }
          if (events.ended) {
            sink.done();
          } else if (!events.text.empty()) {
            std::this_thread::sleep_for(kStreamGather);
          }
          return true;
        },
        [this](bool) { --streams_; });
  });
}

}  // namespace voltrix

// The HTTP service against real stations on simulated devices and against
// clients that misbehave: every route, the event stream, the tokens, the
// controls, many streams, slow and silent clients, bad requests.

#include <fstream>
#include <sstream>

#include "station/StationObservers.h"
#include "tests/service/ServiceRig_posix.h"
#include "tests/station/StationRig_posix.h"

namespace voltrix::test {
namespace {

using namespace std::chrono_literals;

// An event stream read by a real client on a thread of its own, which, as
// a browser's EventSource does, opens it again when it ends: from the start
// of the events, so that nothing is missed.
class EventReader {
 public:
  EventReader(int port, std::string path = "/api/events?after=0")
      : client_("127.0.0.1", port), thread_([this, path] {
          while (!done_) {
            auto result = client_.Get(path, [this](const char* data, std::size_t size) {
              const std::lock_guard lock(mutex_);
              text_.append(data, size);
              return !done_;
            });
            const std::lock_guard lock(mutex_);
            ++ends_;
            text_ += "[ended: " + httplib::to_string(result.error()) + "]";
          }
        }) {}
  ~EventReader() {
    done_ = true;
    client_.stop();
    thread_.join();
  }
  std::string text() {
    const std::lock_guard lock(mutex_);
    return text_;
  }
  bool saw(const std::string& piece) {
    return eventually([&] { return text().find(piece) != std::string::npos; });
  }

 private:
  httplib::Client client_;
  std::mutex mutex_;
  std::string text_;
  int ends_ = 0;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

class ServedStation : public StationRig {
 protected:
  void serve(service::StationControls& controls, std::optional<service::AccessTokens> tokens = {},
             std::size_t mostStreams = 64) {
    service::ServiceSettings settings = loopbackSettings();
    settings.tokens = std::move(tokens);
    settings.mostEventStreams = mostStreams;
    http = std::make_unique<service::HttpService>(hub, history, audit, controls, settings);
    std::string error;
    ASSERT_TRUE(http->start(error)) << error;
    client = std::make_unique<httplib::Client>("127.0.0.1", http->port());
  }
  void TearDown() override {
    hub.close();
    if (http) http->stop();
    StationRig::TearDown();
  }
  JsonDocument getJson(const std::string& path, int status = 200) {
    auto answer = client->Get(path.c_str(), bearer(kViewerToken));
    EXPECT_TRUE(answer) << path;
    if (!answer) return nullptr;
    EXPECT_EQ(answer->status, status) << path << ": " << answer->body;
    return JsonDocument::parse(answer->body, nullptr, false);
  }

  service::StationHub hub;
  service::MemoryRunHistory history;
  service::MemoryControlAudit audit;
  std::unique_ptr<service::HttpService> http;
  std::unique_ptr<httplib::Client> client;
};

std::vector<std::string> logIds(const std::string& path) {
  std::vector<std::string> ids;
  std::ifstream log(path);
  for (std::string line; std::getline(log, line);) {
    ids.push_back(JsonDocument::parse(line)["id"].get<std::string>());
  }
  return ids;
}

TEST_F(ServedStation, EveryRouteShowsWhatTheStationDid) {
  plug();
  plug();
  StationPlan all = plan();
  all.allOfDeviceMap = true;
  StationObservers observers{&events, &history, &hub};
  Station station(all, observers);
  CountedControls controls;
  serve(controls);
  EventReader reader(http->port());
  ASSERT_TRUE(eventually([&] { return http->openEventStreams() == 1; }));
  std::thread running([&] { EXPECT_EQ(station.run(), 0); });
  running.join();
  ASSERT_TRUE(reader.saw("\"type\":\"station_finished\""));
  for (const char* type :
       {"station_started", "device_appeared", "run_started", "progress", "run_finished"}) {
    EXPECT_NE(reader.text().find(std::string("\"type\":\"") + type + "\""), std::string::npos)
        << type;
  }

  const JsonDocument slots = getJson("/api/slots");
  ASSERT_EQ(slots["slots"].size(), 2u);
  EXPECT_EQ(slots["station"]["name"], "bench-1");
  EXPECT_EQ(slots["station"]["image"]["path"], dir.file("sysbin.bin"));
  EXPECT_EQ(slots["station"]["image"]["sha256"].get<std::string>().size(), 64u);
  for (const JsonDocument& slot : slots["slots"]) {
    EXPECT_EQ(slot["state"], "verified");
    EXPECT_EQ(slot["verified"], 1);
    EXPECT_TRUE(slot["last_result"].get<std::string>().rfind("verified", 0) == 0);
  }
  EXPECT_EQ(slots["counts"]["verified"], 2);
  EXPECT_EQ(slots["counts"]["exit_code"], 0);

  // The runs are the log's records, newest first.
  std::vector<std::string> ids = logIds(dir.file("station.jsonl"));
  ASSERT_EQ(ids.size(), 2u);
  const JsonDocument runs = getJson("/api/runs");
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0]["id"], ids[1]);
  EXPECT_EQ(runs[1]["id"], ids[0]);
  EXPECT_EQ(getJson("/api/runs?limit=1").size(), 1u);
  EXPECT_EQ(getJson("/api/runs?since=2999-01-01").size(), 0u);
  EXPECT_EQ(getJson("/api/runs/" + ids[0])["port"], runs[1]["port"]);
  getJson("/api/runs/00000000-0000-4000-8000-000000000000", 404);
  getJson("/api/runs?limit=0", 400);
  getJson("/api/runs?since=<script>", 400);

  const auto metrics = client->Get("/metrics");
  ASSERT_TRUE(metrics);
  for (const char* line :
       {"voltrix_runs_total{result=\"verified\"} 2\n", "voltrix_runs_total{result=\"failed\"} 0\n",
        "voltrix_run_seconds_count 2\n", "voltrix_run_seconds_bucket{le=\"+Inf\"} 2\n",
        "voltrix_slots_busy 0\n", "voltrix_bytes_written_total 330\n"}) {
    EXPECT_NE(metrics->body.find(line), std::string::npos) << line << metrics->body;
  }

  const auto page = client->Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
  for (const char* piece :
       {"<meta charset=\"utf-8\">", "Noto Sans CJK SC", "WenQuanYi Zen Hei", "new EventSource("}) {
    EXPECT_NE(page->body.find(piece), std::string::npos) << piece;
  }
  EXPECT_EQ(page->body.find("http"), std::string::npos) << "nothing is fetched from elsewhere";
}

TEST_F(ServedStation, APauseOverHttpStartsNoNewDeviceAndCutsNoRunningOne) {
  sim::ZetakSimulator& first = plug(slow());
  StationPlan watching = plan();
  watching.watch = true;
  watching.count = 2;
  StationObservers observers{&events, &history, &hub};
  Station station(watching, observers);
  service::ControlsOfStation controls(station);
  serve(controls, twoTokens());
  std::thread running([&] { EXPECT_EQ(station.run(), 0); });
  ASSERT_TRUE(events.waitFor([&] { return !events.started.empty(); }));
  auto paused = client->Post("/api/pause", bearer(kOperatorToken), "", "text/plain");
  ASSERT_TRUE(paused);
  EXPECT_EQ(paused->status, 202);
  sim::ZetakSimulator& second = plug();
  const auto plugged = std::chrono::steady_clock::now();
  ASSERT_TRUE(events.waitFor([&] {
    return !events.finished.empty() && !events.passes.empty() &&
           events.passes.back().second > plugged + 1500ms;
  }));
  EXPECT_TRUE(holdsImage(first));
  EXPECT_TRUE(second.bytesFromHost().empty());
  EXPECT_TRUE(getJson("/api/slots")["counts"]["paused"].get<bool>());
  auto resumed = client->Post("/api/resume", bearer(kOperatorToken), "", "text/plain");
  ASSERT_TRUE(resumed);
  EXPECT_EQ(resumed->status, 202);
  running.join();
  EXPECT_TRUE(holdsImage(second));
  const auto entries = audit.entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].action, "pause");
  EXPECT_EQ(entries[0].role, "operator");
  EXPECT_EQ(entries[0].who, "alice");
  EXPECT_EQ(entries[0].remoteAddress, "127.0.0.1");
  EXPECT_EQ(entries[0].result, "accepted");
  EXPECT_EQ(entries[1].action, "resume");
}

TEST_F(ServedStation, TokensGateReadingAndControl) {
  struct Case {
    std::string token;
    int read, control;
  };
  const Case withTokens[] = {
      {"", 401, 401},
      {"wrong-token-0123456789", 401, 401},
      {kViewerToken, 200, 403},
      {kOperatorToken, 200, 202},
  };
  CountedControls controls;
  serve(controls, twoTokens());
  for (const Case& row : withTokens) {
    auto read = client->Get("/api/slots", bearer(row.token));
    auto control = client->Post("/api/drain", bearer(row.token), "", "text/plain");
    ASSERT_TRUE(read && control);
    EXPECT_EQ(read->status, row.read) << row.token;
    EXPECT_EQ(control->status, row.control) << row.token;
  }
  EXPECT_EQ(controls.calls, 1);
  const auto entries = audit.entries();
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].result, "refused 401: an operator's token is needed");
  EXPECT_EQ(entries[2].who, "token on line 1");
  EXPECT_EQ(entries[2].result, "refused 403: a viewer may not control the station");
  // The browser's event stream gives its token as a parameter.
  EXPECT_EQ(client->Get("/metrics?token=viewer-token-0123456789")->status, 200);
  EXPECT_EQ(client->Post("/api/drain?token=operator-token-0123456789")->status, 401);
}

TEST_F(ServedStation, WithoutATokenFileReadingIsOpenAndControlRefused) {
  CountedControls controls;
  serve(controls);
  for (const char* action : {"/api/pause", "/api/resume", "/api/drain", "/api/stop"}) {
    auto answer = client->Post(action, bearer(kOperatorToken), "", "text/plain");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 403) << action;
  }
  EXPECT_EQ(client->Get("/api/slots")->status, 200);
  EXPECT_EQ(controls.calls, 0);
  EXPECT_EQ(audit.entries().size(), 4u);
}

TEST_F(ServedStation, FiftyOpenEventStreamsLeaveTheApiAnswering) {
  CountedControls controls;
  serve(controls, std::nullopt, 50);
  std::vector<std::unique_ptr<EventReader>> readers;
  for (int i = 0; i < 50; ++i) readers.push_back(std::make_unique<EventReader>(http->port()));
  ASSERT_TRUE(eventually([&] { return http->openEventStreams() == 50; }))
      << http->openEventStreams();
  // One more than the cap is turned away, and the API still answers.
  EXPECT_EQ(client->Get("/api/events")->status, 503);
  EXPECT_EQ(client->Get("/api/slots")->status, 200);
  EXPECT_EQ(client->Get("/metrics")->status, 200);
  hub.deviceAppeared({0, {"/dev/pts/77", "usb-slot-1", "left", 0}});
  for (auto& reader : readers) EXPECT_TRUE(reader->saw("\"name\":\"left\"")) << reader->text();
}

TEST_F(ServedStation, AtItsStopEveryStreamGetsTheStationsEndAndEndsWhole) {
  CountedControls controls;
  serve(controls);
  std::vector<std::unique_ptr<RawClient>> streams;
  for (int i = 0; i < 20; ++i) {
    streams.push_back(std::make_unique<RawClient>(http->port()));
    streams.back()->send("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  }
  ASSERT_TRUE(eventually([&] { return http->openEventStreams() == 20; }))
      << http->openEventStreams();
  hub.deviceAppeared({0, {"/dev/pts/77", "usb-slot-1", "left", 0}});
  hub.stationFinished({});
  http->stop();
  for (auto& stream : streams) {
    const auto received = stream->receiveUntilClosed(10s);
    ASSERT_TRUE(received);
    EXPECT_NE(received->find("\"type\":\"station_finished\""), std::string::npos) << *received;
    // The chunked answer's last chunk: the stream ended as HTTP ends it.
    EXPECT_TRUE(received->ends_with("\r\n0\r\n\r\n")) << *received;
  }
}

TEST_F(ServedStation, ClientsThatStallAreDropped) {
  CountedControls controls;
  serve(controls);
  // A request that stops halfway, and one that comes a byte every second:
  // each byte well within the wait for a byte, the whole head not within
  // the limit for it.
  RawClient stalled(http->port());
  stalled.send("GET /api/slots HTTP/1.1\r\nHo");
  RawClient trickling(http->port());
  std::atomic<bool> dropped{false};
  std::thread trickle([&] {
    for (const char c : std::string("GET /api/slots HTTP/1.1\r\n\r\n")) {
      if (dropped || !trickling.send(std::string(1, c))) return;
      std::this_thread::sleep_for(1s);
    }
  });
  EXPECT_TRUE(stalled.receiveUntilClosed(10s));
  const auto answer = trickling.receiveUntilClosed(15s);
  dropped = true;
  trickle.join();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->find("200 OK"), std::string::npos);

  // An event stream that is never read: dropped once its writes time out.
  RawClient deaf(http->port(), 4096);
  deaf.send("GET /api/events HTTP/1.1\r\nHost: x\r\n\r\n");
  ASSERT_TRUE(eventually([&] { return http->openEventStreams() == 1; }));
  const std::string note(2000, 'x');
  for (int i = 0; http->openEventStreams() > 0; ++i) {
    ASSERT_LT(i, 200000) << "the stream was never dropped";
    hub.portBusyRetry({0, i});
    hub.logUnavailable(note);
    if (i % 64 == 0) std::this_thread::sleep_for(1ms);
  }
  EXPECT_EQ(client->Get("/api/slots")->status, 200);
}

TEST_F(ServedStation, BadRequestsGetClientErrors) {
  CountedControls controls;
  serve(controls, twoTokens());
  struct Case {
    const char* what;
    std::string request;
    const char* status;
  };
  const Case cases[] = {
      {"garbage", "NONSENSE\r\n\r\n", "HTTP/1.1 400"},
      {"unknown path", "GET /etc/passwd HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 404"},
      {"traversal", "GET /../../etc/passwd HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 4"},
      {"traversal in an id", "GET /api/runs/../../x HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 4"},
      {"encoded traversal", "GET /%2e%2e/%2e%2e/etc/passwd HTTP/1.1\r\nHost: x\r\n\r\n",
       "HTTP/1.1 404"},
      {"huge address", "GET /" + std::string(20000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n",
       "HTTP/1.1 4"},
      {"huge header", "GET / HTTP/1.1\r\nX-Big: " + std::string(20000, 'b') + "\r\n\r\n",
       "HTTP/1.1 4"},
      {"huge body",
       "POST /api/pause HTTP/1.1\r\nHost: x\r\nAuthorization: Bearer " +
           std::string(kOperatorToken) + "\r\nContent-Length: 10000000\r\n\r\n" +
           std::string(8192, 'c'),
       "HTTP/1.1 413"},
      {"wrong method", "DELETE /api/slots HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 4"},
  };
  for (const Case& row : cases) {
    const std::string answer = rawExchange(http->port(), row.request);
    EXPECT_EQ(answer.rfind(row.status, 0), 0u) << row.what << ": " << answer.substr(0, 80);
  }
  EXPECT_EQ(controls.calls, 0);
}

// A station refused right at its start stops the service a moment after
// starting it: the stop must never be lost.
TEST(HttpServiceStop, AStopRightAfterTheStartEndsTheService) {
  service::StationHub hub;
  service::MemoryRunHistory history;
  service::MemoryControlAudit audit;
  CountedControls controls;
  for (int round = 0; round < 200; ++round) {
    service::HttpService http(hub, history, audit, controls, loopbackSettings());
    std::string error;
    ASSERT_TRUE(http.start(error)) << error;
    http.stop();
  }
}

TEST(AccessTokens, FilesAndAddressesAreCheckedWhole) {
  struct Case {
    const char* text;
    bool valid;
  };
  const Case files[] = {
      {"viewer aaaaaaaaaaaaaaaa\n# note\n\noperator bbbbbbbbbbbbbbbb\r\n", true},
      {"", false},
      {"viewer\n", false},
      {"admin aaaaaaaaaaaaaaaa\n", false},
      {"viewer short\n", false},
      {"viewer aaaaaaaaaaaaaaaa bob\n", true},
      {"viewer aaaaaaaaaaaaaaaa bob extra\n", false},
      {"viewer aaaaaaaaaaaaaaaa\noperator aaaaaaaaaaaaaaaa\n", false},
  };
  for (const Case& row : files) {
    std::string error;
    EXPECT_EQ(service::AccessTokens::parse(row.text, error).has_value(), row.valid) << row.text;
    EXPECT_EQ(error.empty(), row.valid) << row.text;
  }
  struct Address {
    const char* text;
    bool valid, loopback;
  };
  const Address addresses[] = {
      {"127.0.0.1:8080", true, true}, {"localhost:0", true, true},       {"[::1]:80", true, true},
      {"0.0.0.0:8080", true, false},  {"10.0.0.5:1", true, false},       {":8080", false, false},
      {"127.0.0.1:", false, false},   {"127.0.0.1:70000", false, false}, {"::1:80", false, false},
      {"127.0.0.1:-1", false, false},
  };
  for (const Address& row : addresses) {
    std::string error;
    const auto address = service::parseServeAddress(row.text, error);
    ASSERT_EQ(address.has_value(), row.valid) << row.text;
    if (address) {
      EXPECT_EQ(address->loopback(), row.loopback) << row.text;
    }
  }
}

}  // namespace
}  // namespace voltrix::test

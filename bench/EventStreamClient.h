#pragma once
// A client of the station's event stream (/api/events) on a thread of its
// own, over a plain TCP socket as a browser's EventSource would hold it:
// it reads the chunked answer, parses every event's JSON, and takes for
// each event the time from the station's state change (the event's "t",
// the system clock in µs) to the moment its bytes were read here. Events
// the stream replays from before the request do not count.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace voltrix::bench {

struct EventStreamFigures {
  int status = 0;            // the HTTP status of the answer
  std::uint64_t events = 0;  // parsed, replayed ones included
  std::uint64_t firstId = 0, lastId = 0;
  bool gap = false;                 // an id missing between two events
  bool ended = false;               // the answer ended as HTTP says it ends
  bool finished = false;            // the station_finished event came
  std::vector<double> latenciesMs;  // live events only
  double connectMs = 0;             // from connect() to the answer's head
  double longestSilenceMs = 0;      // between two reads, once answered
  std::string error;                // why it ended otherwise
  double cpu = 0;                   // the client thread's CPU seconds
};

class EventStreamClient {
 public:
  // Connects to 127.0.0.1:`port` and reads `path` until the answer ends,
  // the connection fails, or nothing comes for `silenceLimitMs`.
  EventStreamClient(int port, std::string path = "/api/events?after=0", int silenceLimitMs = 30000);
  ~EventStreamClient();
  EventStreamClient(const EventStreamClient&) = delete;
  EventStreamClient& operator=(const EventStreamClient&) = delete;

  // Whether the answer's head has come (the stream is open).
  bool answered() const;
  // Waits for the end of the stream (or ends it, when `cut`).
  const EventStreamFigures& finish(bool cut = false);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace voltrix::bench

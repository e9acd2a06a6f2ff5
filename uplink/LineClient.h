#pragma once
// The station's side of the line's HTTP API: a batch of log lines posted to
// /api/records, the live state to /api/stations/state, each answer sorted
// into what the uplink does about it.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "uplink/LineAddress.h"

namespace httplib {
class Client;
}

namespace voltrix::uplink {

struct LineAnswer {
  enum class Kind {
    Taken,         // 200/204: the line holds it
    TokenRefused,  // 401/403
    TooLarge,      // 413: too many lines or too many bytes
    Bad,           // 400: the line refuses what was sent
    Unavailable,   // 503, another status, no connection, a timeout
  } kind = Kind::Unavailable;
  int status = 0;    // the HTTP status; 0 when no answer came
  std::string text;  // what went wrong, for a person: "503: database: ..." or
                     // "connection refused"
};

struct LineClientSettings {
  LineAddress address;
  std::string token;
  std::optional<std::string> caFile;  // the plant's own CA bundle for https
  std::chrono::seconds connectTimeout{3};
  std::chrono::seconds transferTimeout{5};  // each read or write
};

class LineClient {
 public:
  explicit LineClient(LineClientSettings settings);
  ~LineClient();
  LineClient(const LineClient&) = delete;
  LineClient& operator=(const LineClient&) = delete;

  // `body`: log lines, each ended by "\n".
  LineAnswer postRecords(const std::string& body);
  LineAnswer postState(const std::string& json);
  // GET /api/job: Taken with the job's JSON in `body`, or with status 204
  // and an empty body when no job is current.
  LineAnswer getJob(std::string& body);
  // GET /api/jobs/ID/image: Taken with the image's bytes in `body`.
  LineAnswer getJobImage(std::int64_t id, std::string& body);

 private:
  LineAnswer post(const std::string& path, const std::string& body, const char* contentType);
  LineAnswer get(const std::string& path, std::string& body);

  const LineClientSettings settings_;
  std::unique_ptr<httplib::Client> client_;
};

}  // namespace voltrix::uplink

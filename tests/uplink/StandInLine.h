#pragma once
// A stand-in for the line in the uplink's tests: POST /api/records keeps
// each record once by its id and answers {"added","known","notRecords"};
// POST /api/stations/state keeps the newest state. It can be stopped and
// started again on its port, refuse every post with 503, answer 401 to a
// token it does not know, 413 to a batch of more lines than it takes, and
// 400 to a batch holding a line that is not JSON.

#include <httplib.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "record/JsonText.h"

namespace voltrix::test {

class StandInLine {
 public:
  explicit StandInLine(std::string token) : token_(std::move(token)) {}
  ~StandInLine() { stop(); }

  // Listens on loopback: on a free port the first time, on the same one after.
  bool start();
  void stop();
  int port() const { return port_; }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

  void setUnavailable(bool unavailable);
  void setMostLines(std::size_t lines);
  // Answers every post of records 400, as a server that is no line would.
  void setRefusingAll(bool refusing);

  // The records' ids and how many times each was posted.
  std::map<std::string, int> posted() const;
  std::vector<std::size_t> batchSizes() const;  // of every post, answered or not
  JsonDocument lastState() const;

 private:
  void answerRecords(const httplib::Request& request, httplib::Response& response);

  const std::string token_;
  int port_ = 0;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  mutable std::mutex mutex_;
  bool unavailable_ = false;
  std::size_t mostLines_ = 1000;
  bool refusingAll_ = false;
  std::map<std::string, int> posted_;
  std::vector<std::size_t> batchSizes_;
  JsonDocument lastState_;
};

}  // namespace voltrix::test

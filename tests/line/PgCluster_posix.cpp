#include "tests/line/PgCluster_posix.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>

namespace voltrix::test {

namespace {

// One line the script printed, without its line break; empty when none
// came whole before `limit`.
std::string readLine(int from, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::string line;
  char c = 0;
  while (line.empty() || line.back() != '\n') {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ready{from, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0 ||
        ::read(from, &c, 1) != 1) {
      return {};
    }
    line += c;
  }
  line.pop_back();
  return line;
}

}  // namespace

PgCluster::PgCluster() {
  int toScript[2], fromScript[2];
  if (::pipe2(toScript, O_CLOEXEC) != 0 || ::pipe2(fromScript, O_CLOEXEC) != 0) {
    startError_ = "no pipe for the cluster's script";
    return;
  }
  script_ = ::fork();
  if (script_ == 0) {
    ::dup2(toScript[0], STDIN_FILENO);
    ::dup2(fromScript[1], STDOUT_FILENO);
    ::execl("/bin/bash", "bash", PG_CLUSTER_SCRIPT, nullptr);
    ::_exit(127);
  }
  ::close(toScript[0]);
  ::close(fromScript[1]);
  input_ = toScript[1];
  // The first line is the connection string; the script's own deadlines
  // (30 s for the server to start) come well before ours.
  output_ = fromScript[0];
  const std::string line = readLine(output_, std::chrono::seconds(60));
  if (line.empty()) {
    startError_ = "the cluster did not start (see pg-cluster's words above)";
    return;
  }
  conninfo_ = line;
}

bool PgCluster::ask(const char* request, const char* answer) {
  const std::string line = std::string(request) + "\n";
  if (input_ < 0 ||
      ::write(input_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
    return false;
  }
  return readLine(output_, std::chrono::seconds(60)) == answer;
}

bool PgCluster::stopServer() {
  return ask("stop", "stopped");
}

bool PgCluster::startServer() {
  return ask("start", "started");
}

PgCluster::~PgCluster() {
  if (input_ >= 0) ::close(input_);
  if (output_ >= 0) ::close(output_);
  if (script_ > 0) ::waitpid(script_, nullptr, 0);
}

std::string PgCluster::freshDatabase() {
  const std::string name = "test_" + std::to_string(++databases_);
  std::unique_ptr<PGconn, decltype(&PQfinish)> admin(PQconnectdb(conninfo_.c_str()), PQfinish);
  std::unique_ptr<PGresult, decltype(&PQclear)> made(
      PQexec(admin.get(), ("CREATE DATABASE " + name).c_str()), PQclear);
  if (PQresultStatus(made.get()) != PGRES_COMMAND_OK) return {};
  // The last dbname of a connection string is the one that counts.
  return conninfo_ + " dbname=" + name;
}

}  // namespace voltrix::test

#pragma once
// A throwaway PostgreSQL cluster for one test program, started by
// tests/line/pg-cluster.sh and kept while this object lives: the script
// stops and removes it once our end of its standard input closes, so a test
// program that dies leaves no server behind either.

#include <sys/types.h>

#include <string>

namespace voltrix::test {

class PgCluster {
 public:
  PgCluster();
  ~PgCluster();
  PgCluster(const PgCluster&) = delete;
  PgCluster& operator=(const PgCluster&) = delete;

  // Empty when the cluster did not start (why is in startError()).
  const std::string& conninfo() const { return conninfo_; }
  const std::string& startError() const { return startError_; }
  // A new empty database of the cluster, as a connection string.
  std::string freshDatabase();
  // Stops the server (its clients' connections end) and starts it again on
  // the same port, with the same databases; false when it did not.
  bool stopServer();
  bool startServer();

 private:
  pid_t script_ = -1;
  bool ask(const char* request, const char* answer);

  int input_ = -1;   // the script's standard input, our end
  int output_ = -1;  // its standard output, our end
  std::string conninfo_, startError_;
  int databases_ = 0;
};

}  // namespace voltrix::test

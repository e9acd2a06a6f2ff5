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

 private:
  pid_t script_ = -1;
  int input_ = -1;  // the script's standard input, our end
  std::string conninfo_, startError_;
  int databases_ = 0;
};

}  // namespace voltrix::test

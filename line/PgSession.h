#pragma once
// One libpq connection and its results, owned: a connection that closes
// itself, a result that clears itself, and statements that take their
// values as parameters only (PQexecParams), never spliced into the SQL.

#include <libpq-fe.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "line/LineDbError.h"

namespace voltrix {

struct PgConnectionCloser {
  void operator()(PGconn* connection) const { PQfinish(connection); }
};
struct PgResultClearer {
  void operator()(PGresult* result) const { PQclear(result); }
};
using PgResult = std::unique_ptr<PGresult, PgResultClearer>;

// A statement's values, in the order of $1, $2, ...; an empty optional is NULL.
using PgParams = std::vector<std::optional<std::string>>;

class PgSession {
 public:
  // Connects with `conninfo` (a libpq connection string or URL), giving up
  // after 10 s unless it says otherwise. Null with `error` when it cannot.
  static std::unique_ptr<PgSession> connect(const std::string& conninfo, LineDbError& error);

  explicit PgSession(PGconn* connection) : connection_(connection) {}

  // Runs one statement; the result when the server accepted it (rows or
  // not), null with `error` (and `doing` in its text) when not.
  PgResult run(const char* sql, const PgParams& params, const std::string& doing,
               LineDbError& error);
  // Statements without values (a step of the schema), several at once.
  bool runScript(const char* sql, const std::string& doing, LineDbError& error);
  // BEGIN / COMMIT; a failed commit or any error inside rolls back.
  bool begin(const char* how, LineDbError& error);
  bool commit(LineDbError& error);
  void rollback();
  // The database this session is connected to.
  std::string databaseName() const { return PQdb(connection_.get()); }

 private:
  std::unique_ptr<PGconn, PgConnectionCloser> connection_;
};

}  // namespace voltrix

#include "line/PgSession.h"

#include <iterator>

namespace voltrix {

namespace {

// libpq's message without its trailing line break.
std::string trimmed(const char* message) {
  std::string text = message != nullptr ? message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

// Why a connection was not made. libpq gives no code for it, so the server
// is asked whether it is there at all: one that answers has refused this
// login (a wrong password, an unknown user or database).
LineDbFailure connectFailure(const char* const* keywords, const char* const* values) {
  switch (PQpingParams(keywords, values, 1)) {
    case PQPING_OK:
      return LineDbFailure::Auth;
    case PQPING_NO_ATTEMPT:
      return LineDbFailure::Other;  // the connection string itself is wrong
    case PQPING_REJECT:
    case PQPING_NO_RESPONSE:
      break;
  }
  return LineDbFailure::CannotConnect;
}

}  // namespace

const char* lineDbFailureName(LineDbFailure kind) {
  switch (kind) {
    case LineDbFailure::None:
      return "no failure";
    case LineDbFailure::CannotConnect:
      return "cannot connect";
    case LineDbFailure::Auth:
      return "login refused";
    case LineDbFailure::Newer:
      return "newer schema";
    case LineDbFailure::Other:
      break;
  }
  return "error";
}

std::unique_ptr<PgSession> PgSession::connect(const std::string& conninfo, LineDbError& error) {
  // The connection string comes last, so that what it says overrides these
  // defaults; records are UTF-8.
  const char* keywords[] = {"connect_timeout", "client_encoding", "fallback_application_name",
                            "dbname", nullptr};
  const char* values[] = {"10", "UTF8", "voltrix-line", conninfo.c_str(), nullptr};
  static_assert(std::size(keywords) == std::size(values));
  char* parseError = nullptr;
  PQconninfoOption* parsed = PQconninfoParse(conninfo.c_str(), &parseError);
  if (parsed == nullptr) {
    error.kind = LineDbFailure::Other;
    error.text = "the database's connection string cannot be read: " +
                 (parseError != nullptr ? trimmed(parseError) : std::string("out of memory"));
    PQfreemem(parseError);
    return nullptr;
  }
  PQconninfoFree(parsed);
  std::unique_ptr<PGconn, PgConnectionCloser> connection(PQconnectdbParams(keywords, values, 1));
  if (!connection) {
    error.kind = LineDbFailure::Other;
    error.text = "cannot connect to the database: out of memory";
    return nullptr;
  }
  if (PQstatus(connection.get()) != CONNECTION_OK) {
    error.kind = connectFailure(keywords, values);
    error.text = "cannot connect to the database: " + trimmed(PQerrorMessage(connection.get()));
    return nullptr;
  }
  // The server's notices ("already exists, skipping") are for a person at
  // psql; this program's caller hears of errors only.
  PQsetNoticeProcessor(
      connection.get(), [](void*, const char*) {}, nullptr);
  return std::make_unique<PgSession>(connection.release());
}

namespace {

// Sets `error` from a failed result (or, without one, the connection).
void setError(PGconn* connection, const PGresult* result, const std::string& doing,
              LineDbError& error) {
  // A connection that dropped is the server being away, not a fault of
  // the statement: worth trying again later.
  error.kind =
      PQstatus(connection) == CONNECTION_BAD ? LineDbFailure::CannotConnect : LineDbFailure::Other;
  const char* message = result != nullptr ? PQresultErrorMessage(result) : "";
  if (message[0] == '\0') message = PQerrorMessage(connection);
  error.text = doing + ": " + trimmed(message);
}

bool succeeded(const PGresult* result) {
  const ExecStatusType status = result != nullptr ? PQresultStatus(result) : PGRES_FATAL_ERROR;
  return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

}  // namespace

PgResult PgSession::run(const char* sql, const PgParams& params, const std::string& doing,
                        LineDbError& error) {
  std::vector<const char*> values;
  values.reserve(params.size());
  for (const auto& param : params) values.push_back(param ? param->c_str() : nullptr);
  PgResult result(PQexecParams(connection_.get(), sql, static_cast<int>(values.size()), nullptr,
                               values.data(), nullptr, nullptr, 0));
  if (succeeded(result.get())) return result;
  setError(connection_.get(), result.get(), doing, error);
  return nullptr;
}

bool PgSession::runScript(const char* sql, const std::string& doing, LineDbError& error) {
  const PgResult result(PQexec(connection_.get(), sql));
  if (succeeded(result.get())) return true;
  setError(connection_.get(), result.get(), doing, error);
  return false;
}

bool PgSession::begin(const char* how, LineDbError& error) {
  return run(how, {}, "cannot start a transaction", error) != nullptr;
}

bool PgSession::commit(LineDbError& error) {
  if (run("COMMIT", {}, "cannot commit", error)) return true;
  rollback();
  return false;
}

void PgSession::rollback() {
  if (PQtransactionStatus(connection_.get()) != PQTRANS_IDLE) {
    PgResult(PQexec(connection_.get(), "ROLLBACK"));
  }
}

}  // namespace voltrix

#include "record/SqliteStatement.h"

namespace voltrix {

ResultsDbFailure failureOfSqliteCode(int code) {
  switch (code & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return ResultsDbFailure::None;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ResultsDbFailure::Locked;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return ResultsDbFailure::ReadOnly;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return ResultsDbFailure::Corrupt;
    case SQLITE_FULL:
      return ResultsDbFailure::Full;
    case SQLITE_CANTOPEN:
      return ResultsDbFailure::CannotOpen;
    case SQLITE_IOERR:
      return ResultsDbFailure::Io;
    default:
      return ResultsDbFailure::Other;
  }
}

void setSqliteError(sqlite3* db, int code, const std::string& doing, ResultsDbError& error) {
  error.kind = failureOfSqliteCode(code);
  if (error.kind == ResultsDbFailure::None) error.kind = ResultsDbFailure::Other;
  const char* message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
  error.text = doing + ": " + (message != nullptr ? message : sqlite3_errstr(code));
}

SqliteStatement::SqliteStatement(sqlite3* db, const char* sql) {
  prepareCode_ = sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr);
  if (prepareCode_ != SQLITE_OK) {
    sqlite3_finalize(statement_);
    statement_ = nullptr;
  }
}

void SqliteStatement::bind(int index, const std::optional<std::string>& text) {
  if (!text) {
    sqlite3_bind_null(statement_, index);
    return;
  }
  sqlite3_bind_text(statement_, index, text->data(), static_cast<int>(text->size()),
                    SQLITE_TRANSIENT);
}

void SqliteStatement::bind(int index, std::optional<std::int64_t> number) {
  if (!number) {
    sqlite3_bind_null(statement_, index);
    return;
  }
  sqlite3_bind_int64(statement_, index, *number);
}

void SqliteStatement::bind(int index, std::optional<double> number) {
  if (!number) {
    sqlite3_bind_null(statement_, index);
    return;
  }
  sqlite3_bind_double(statement_, index, *number);
}

std::string SqliteStatement::text(int column) const {
  const auto* bytes = sqlite3_column_text(statement_, column);
  if (bytes == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(bytes),
                     static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)));
}

bool executeSql(sqlite3* db, const char* sql, const std::string& doing, ResultsDbError& error) {
  const int code = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  if (code == SQLITE_OK) return true;
  setSqliteError(db, code, doing, error);
  return false;
}

}  // namespace voltrix

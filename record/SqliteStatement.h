#pragma once
// A prepared SQLite statement that finalizes itself, with the binding and
// reading the results database needs. Errors are turned into typed ones.

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>

#include "record/ResultsDb.h"

namespace voltrix {

// The kind of failure an SQLite result code stands for.
ResultsDbFailure failureOfSqliteCode(int code);
// Sets `error` from the connection's last error, with what was being done.
void setSqliteError(sqlite3* db, int code, const std::string& doing, ResultsDbError& error);

class SqliteStatement {
 public:
  SqliteStatement(sqlite3* db, const char* sql);
  ~SqliteStatement() { sqlite3_finalize(statement_); }
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  // False when the SQL could not be prepared (the error is in prepareCode()).
  explicit operator bool() const { return statement_ != nullptr; }
  int prepareCode() const { return prepareCode_; }

  // Binds parameter `index` (from 1); an empty optional binds NULL.
  void bind(int index, const std::optional<std::string>& text);
  void bind(int index, std::optional<std::int64_t> number);
  void bind(int index, std::optional<double> number);

  // SQLITE_ROW, SQLITE_DONE or an error code.
  int step() { return sqlite3_step(statement_); }
  std::string text(int column) const;
  std::int64_t integer(int column) const { return sqlite3_column_int64(statement_, column); }
  bool isNull(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }

 private:
  sqlite3_stmt* statement_ = nullptr;
  int prepareCode_ = SQLITE_OK;
};

// Runs `sql` (one or more statements without results); false with `error`.
bool executeSql(sqlite3* db, const char* sql, const std::string& doing, ResultsDbError& error);

}  // namespace voltrix

#pragma once
// A database as another program sees it: a second SQLite connection that
// reads one value at a time, or holds a lock.

#include <sqlite3.h>

#include <string>

namespace voltrix::test {

class Peek {
 public:
  explicit Peek(const std::string& path) { sqlite3_open(path.c_str(), &db_); }
  ~Peek() { sqlite3_close(db_); }
  Peek(const Peek&) = delete;
  Peek& operator=(const Peek&) = delete;

  // The first column of the first row, "(none)" without one.
  std::string text(const std::string& sql) const {
    sqlite3_stmt* statement = nullptr;
    std::string value = "(none)";
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_text(statement, 0) != nullptr) {
      value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    }
    sqlite3_finalize(statement);
    return value;
  }
  long count(const std::string& table) const {
    const std::string counted = text("SELECT count(*) FROM " + table);
    return counted == "(none)" ? -1 : std::stol(counted);
  }
  int exec(const std::string& sql) {
    return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
  }

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace voltrix::test

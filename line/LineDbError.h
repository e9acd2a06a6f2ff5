#pragma once
// Why the line's database could not be used, typed so that a caller tells
// "try again later" (the server is away) from "a person must act" (the
// login is refused, the schema is newer than this program).

#include <string>

namespace voltrix {

enum class LineDbFailure {
  None,
  // The server cannot be reached: refused, unreachable, not accepting
  // connections yet, or the connection dropped while in use.
  CannotConnect,
  // The server is there and refused this login: a wrong password, an
  // unknown user or database, or pg_hba.conf does not let it in.
  Auth,
  // The schema was made by a later version of this program.
  Newer,
  Other,
};

struct LineDbError {
  LineDbFailure kind = LineDbFailure::None;
  std::string text;  // the server's or libpq's words, with what was being done
};

// A few words for a kind of failure ("cannot connect", "login refused").
const char* lineDbFailureName(LineDbFailure kind);

}  // namespace voltrix

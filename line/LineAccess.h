#pragma once
// What each role may do on the line: a viewer (and an operator, an
// engineer) reads everything but posts nothing; a station posts its records
// and state and reads nothing else; an admin may do both.

#include "service/AccessTokens.h"

namespace voltrix {

enum class LineAccess {
  Read,  // the dashboard's data, the event stream, the export, the metrics
  Post,  // a station's records and state
};

constexpr bool lineAllows(service::Role role, LineAccess access) {
  using service::Role;
  switch (access) {
    case LineAccess::Read:
      return role == Role::Viewer || role == Role::Operator || role == Role::Engineer ||
             role == Role::Admin;
    case LineAccess::Post:
      return role == Role::Station || role == Role::Admin;
  }
  return false;
}

}  // namespace voltrix

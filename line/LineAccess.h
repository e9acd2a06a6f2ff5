#pragma once
// What each role may do on the line: a viewer (and an operator) reads
// everything but posts nothing; an engineer reads and publishes jobs; a
// station posts its records and state and fetches the current job, and
// reads nothing else; an admin may do all of it.

#include "service/AccessTokens.h"

namespace voltrix {

enum class LineAccess {
  Read,     // the dashboard's data, the event stream, the export, the metrics
  Post,     // a station's records and state
  Publish,  // a new job
  Fetch,    // the current job and its image (every role: the page shows it too)
};

constexpr bool lineAllows(service::Role role, LineAccess access) {
  using service::Role;
  switch (access) {
    case LineAccess::Read:
      return role == Role::Viewer || role == Role::Operator || role == Role::Engineer ||
             role == Role::Admin;
    case LineAccess::Post:
      return role == Role::Station || role == Role::Admin;
    case LineAccess::Publish:
      return role == Role::Engineer || role == Role::Admin;
    case LineAccess::Fetch:
      return role != Role::None;
  }
  return false;
}

}  // namespace voltrix

#pragma once
// Who may do what over HTTP. A token file holds one "ROLE TOKEN [NAME]"
// line per token (blank lines and lines starting with '#' aside): a
// `viewer` may read, an `operator` may also pause, resume, drain and stop
// the station. NAME says whose token it is, for the control audit. The line
// of stations knows three roles more: an `engineer` publishes jobs, a
// `station` posts its records and state, an `admin` may do everything.

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace voltrix::service {

enum class Role { None, Viewer, Operator, Engineer, Station, Admin };

// The roles a token file may name: a station's knows viewer and operator.
using RoleSet = std::vector<Role>;
const RoleSet& stationRoles();
const RoleSet& lineRoles();

const char* roleName(Role role);

class AccessTokens {
 public:
  // Parses a token file's text; empty with `error` on a line that is not
  // "ROLE TOKEN", a role not in `roles`, a token given twice, or no token
  // at all.
  static std::optional<AccessTokens> parse(const std::string& text, std::string& error,
                                           const RoleSet& roles = stationRoles());
  // Reads and parses the file at `path`.
  static std::optional<AccessTokens> load(const std::string& path, std::string& error,
                                          const RoleSet& roles = stationRoles());

  struct Holder {
    Role role = Role::None;
    std::string name;  // NAME, or "token on line N" without one
  };
  // Whose a token is; Role::None for an unknown one.
  Holder holderOf(const std::string& token) const;
  Role roleOf(const std::string& token) const { return holderOf(token).role; }
  // Every token with its holder, in the file's order.
  const std::vector<std::pair<std::string, Holder>>& entries() const { return tokens_; }

 private:
  std::vector<std::pair<std::string, Holder>> tokens_;
};

// An address to serve on, "ADDR:PORT" or "[ADDR]:PORT".
struct ServeAddress {
  std::string host;
  int port = 0;
  // Whether only this machine can reach it (127.0.0.0/8, ::1, localhost).
  bool loopback() const;
};

// Empty with `error` for anything but a host and a port from 0 to 65535
// (0: any free port).
std::optional<ServeAddress> parseServeAddress(const std::string& text, std::string& error);

}  // namespace voltrix::service

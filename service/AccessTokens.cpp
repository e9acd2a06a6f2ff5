#include "service/AccessTokens.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace voltrix::service {

namespace {

// A token file is a few lines; anything much bigger is the wrong file.
constexpr std::size_t kMostTokenFileBytes = 64 * 1024;
constexpr std::size_t kFewestTokenCharacters = 16;

bool printableWord(const std::string& word) {
  for (const char c : word) {
    if (c <= ' ' || c > '~') return false;
  }
  return !word.empty();
}

// Compares every byte whatever differs first, so that the time an answer
// takes does not tell how much of a guessed token was right.
bool sameToken(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  }
  return difference == 0;
}

}  // namespace

const char* roleName(Role role) {
  switch (role) {
    case Role::Viewer:
      return "viewer";
    case Role::Operator:
      return "operator";
    case Role::Engineer:
      return "engineer";
    case Role::Station:
      return "station";
    case Role::Admin:
      return "admin";
    case Role::None:
      break;
  }
  return "none";
}

const RoleSet& stationRoles() {
  static const RoleSet roles{Role::Viewer, Role::Operator};
  return roles;
}

const RoleSet& lineRoles() {
  static const RoleSet roles{Role::Viewer, Role::Operator, Role::Engineer, Role::Station,
                             Role::Admin};
  return roles;
}

namespace {

// "viewer or operator", "viewer, operator, engineer, station or admin".
std::string roleList(const RoleSet& roles) {
  std::string text;
  for (std::size_t i = 0; i < roles.size(); ++i) {
    if (i > 0) text += i + 1 == roles.size() ? " or " : ", ";
    text += roleName(roles[i]);
  }
  return text;
}

}  // namespace

std::optional<AccessTokens> AccessTokens::parse(const std::string& text, std::string& error,
                                                const RoleSet& roles) {
  AccessTokens tokens;
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream words(line);
    std::string role, token, name, extra;
    words >> role >> token >> name >> extra;
    if (role.empty() || role[0] == '#') continue;
    const std::string where = "line " + std::to_string(number) + ": ";
    if (token.empty() || !extra.empty()) {
      error = where + "wants ROLE TOKEN [NAME]";
      return std::nullopt;
    }
    Role given = Role::None;
    for (const Role known : roles) {
      if (role == roleName(known)) given = known;
    }
    if (given == Role::None) {
      error = where + "the role is " + roleList(roles) + ", not '" + role + "'";
      return std::nullopt;
    }
    if (!printableWord(token) || token.size() < kFewestTokenCharacters) {
      error = where + "a token is at least " + std::to_string(kFewestTokenCharacters) +
              " printable characters";
      return std::nullopt;
    }
    if (tokens.roleOf(token) != Role::None) {
      error = where + "the token is given twice";
      return std::nullopt;
    }
    if (name.empty()) name = "token on line " + std::to_string(number);
    tokens.tokens_.emplace_back(token, Holder{given, name});
  }
  if (tokens.tokens_.empty()) {
    error = "holds no ROLE TOKEN line";
    return std::nullopt;
  }
  return tokens;
}

std::optional<AccessTokens> AccessTokens::load(const std::string& path, std::string& error,
                                               const RoleSet& roles) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = path + ": cannot be read";
    return std::nullopt;
  }
  std::string text(kMostTokenFileBytes + 1, '\0');
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(file.gcount()));
  if (text.size() > kMostTokenFileBytes) {
    error = path + ": too big for a token file";
    return std::nullopt;
  }
  auto tokens = parse(text, error, roles);
  if (!tokens) error = path + ": " + error;
  return tokens;
}

AccessTokens::Holder AccessTokens::holderOf(const std::string& token) const {
  Holder found;
  for (const auto& [known, holder] : tokens_) {
    if (sameToken(known, token)) found = holder;
  }
  return found;
}

bool ServeAddress::loopback() const {
  return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

std::optional<ServeAddress> parseServeAddress(const std::string& text, std::string& error) {
  error = "--serve wants ADDR:PORT (e.g. 127.0.0.1:8080), not '" + text + "'";
  const auto colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return std::nullopt;
  ServeAddress address;
  address.host = text.substr(0, colon);
  if (address.host.front() == '[') {
    if (address.host.size() < 3 || address.host.back() != ']') return std::nullopt;
    address.host = address.host.substr(1, address.host.size() - 2);
  } else if (address.host.find(':') != std::string::npos) {
    return std::nullopt;  // an IPv6 address goes in brackets
  }
  const std::string port = text.substr(colon + 1);
  char* end = nullptr;
  const long number = std::strtol(port.c_str(), &end, 10);
  if (*end != '\0' || port[0] < '0' || port[0] > '9' || number < 0 || number > 65535) {
    return std::nullopt;
  }
  for (const char c : address.host) {
    if (c <= ' ' || c > '~') return std::nullopt;
  }
  address.port = static_cast<int>(number);
  error.clear();
  return address;
}

}  // namespace voltrix::service

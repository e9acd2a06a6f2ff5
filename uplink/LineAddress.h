#pragma once
// Where the line is and how a station proves itself to it: the line's URL
// (http:// or https://, a host, a port, an optional path prefix) and the
// bare token of a --line-token-file.

#include <optional>
#include <string>

namespace voltrix::uplink {

struct LineAddress {
  std::string url;  // as given, for messages
  bool https = false;
  std::string host;    // without brackets, also for IPv6
  int port = 0;        // the scheme's own when the URL names none
  std::string prefix;  // "" or "/plant/line", without a trailing "/"

  // "http://host:port" as the HTTP client takes it.
  std::string origin() const;
  // The prefix followed by `path` ("/api/records").
  std::string path(const std::string& path) const { return prefix + path; }
};

// Empty with `error` saying what is wrong for anything but
// SCHEME://HOST[:PORT][/PREFIX] with SCHEME http or https.
std::optional<LineAddress> parseLineUrl(const std::string& url, std::string& error);

// The token on the first line of the file that is neither empty nor a
// comment (#), whitespace trimmed. Empty with `error` when the file cannot
// be read or holds no token.
std::optional<std::string> readLineToken(const std::string& file, std::string& error);

}  // namespace voltrix::uplink

#include "uplink/LineAddress.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "platform/Utf8Path.h"

namespace voltrix::uplink {

namespace {

constexpr char kSpaces[] = " \t\r\n";

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(kSpaces);
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(kSpaces) - first + 1);
}

bool isHostCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_';
}

bool isPathCharacter(char c) {
  // Printable ASCII, without what would end or change the request's path.
  return c > ' ' && c < 0x7f && c != '?' && c != '#' && c != '"' && c != '\\';
}

}  // namespace

std::string LineAddress::origin() const {
  const bool ipv6 = host.find(':') != std::string::npos;
  return std::string(https ? "https://" : "http://") + (ipv6 ? "[" + host + "]" : host) + ":" +
         std::to_string(port);
}

std::optional<LineAddress> parseLineUrl(const std::string& url, std::string& error) {
  const auto refuse = [&](const std::string& why) {
    error = "--line wants http://HOST[:PORT][/PATH] or https://..., not '" + url + "': " + why;
    return std::nullopt;
  };
  LineAddress address;
  address.url = url;
  std::string rest;
  if (url.rfind("http://", 0) == 0) {
    rest = url.substr(7);
    address.port = 80;
  } else if (url.rfind("https://", 0) == 0) {
    rest = url.substr(8);
    address.https = true;
    address.port = 443;
  } else {
    return refuse("the scheme must be http or https");
  }
  const auto slash = rest.find('/');
  std::string authority = rest.substr(0, slash);
  if (slash != std::string::npos) {
    address.prefix = rest.substr(slash);
    while (!address.prefix.empty() && address.prefix.back() == '/') address.prefix.pop_back();
    for (char c : address.prefix) {
      if (!isPathCharacter(c)) return refuse("the path may hold no space, '?' or '#'");
    }
  }
  if (authority.find('@') != std::string::npos)
    return refuse("the token goes in --line-token-file");
  std::string portText;
  if (!authority.empty() && authority.front() == '[') {
    const auto close = authority.find(']');
    if (close == std::string::npos) return refuse("an IPv6 address wants its closing ']'");
    address.host = authority.substr(1, close - 1);
    const std::string after = authority.substr(close + 1);
    if (!after.empty() && after.front() != ':') return refuse("junk after the IPv6 address");
    if (after == ":") return refuse("no port after ':'");
    if (!after.empty()) portText = after.substr(1);
    for (char c : address.host) {
      if (!(std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.')) {
        return refuse("not an IPv6 address");
      }
    }
    if (address.host.empty()) return refuse("no host");
  } else {
    const auto colon = authority.find(':');
    address.host = authority.substr(0, colon);
    if (colon != std::string::npos) portText = authority.substr(colon + 1);
    for (char c : address.host) {
      if (!isHostCharacter(c)) return refuse("the host has a character no host name has");
    }
  }
  if (address.host.empty()) return refuse("no host");
  if (authority.find(':') != std::string::npos && portText.empty() && authority.front() != '[') {
    return refuse("no port after ':'");
  }
  if (!portText.empty()) {
    errno = 0;
    char* end = nullptr;
    const long port = std::strtol(portText.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || port < 1 || port > 65535 || portText.front() == '+' ||
        portText.front() == '-') {
      return refuse("the port must be a number from 1 to 65535");
    }
    address.port = static_cast<int>(port);
  }
  return address;
}

std::optional<std::string> readLineToken(const std::string& file, std::string& error) {
  std::ifstream in(pathFromUtf8(file), std::ios::binary);
  if (!in) {
    error = "--line-token-file " + file + " cannot be read";
    return std::nullopt;
  }
  std::string line;
  while (std::getline(in, line)) {
    const std::string token = trimmed(line);
    if (token.empty() || token.front() == '#') continue;
    // A token goes into a header: nothing that would end or fold it.
    for (char c : token) {
      if (static_cast<unsigned char>(c) < 0x21 || c == 0x7f) {
        error = "--line-token-file " + file + ": the token holds a space or a control character";
        return std::nullopt;
      }
    }
    return token;
  }
  error = "--line-token-file " + file + (in.bad() ? " cannot be read" : " holds no token");
  return std::nullopt;
}

}  // namespace voltrix::uplink

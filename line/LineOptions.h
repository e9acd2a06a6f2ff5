#pragma once
// voltrix-line's command line.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace voltrix {

struct LineOptions {
  std::string db;      // the libpq connection string or URL
  std::string listen;  // ADDR:PORT
  std::string tokenFile, certificateFile, keyFile;
  std::vector<std::string> trustKeys;  // the public keys a published job is checked with
  // The commands that need neither --db nor --listen: make a key pair, or
  // sign an image with a secret key.
  std::optional<std::string> keygen;  // BASENAME
  bool sign = false;
  std::string signKey, signImage;
  bool help = false, version = false;
};

struct ParsedLineOptions {
  std::optional<LineOptions> options;
  std::string error;  // why not, for the user
};

ParsedLineOptions parseLineOptions(const std::vector<std::string>& arguments);
void printLineUsage(std::FILE* out);

// The exit statuses of voltrix-line: one per kind of failure at start.
inline constexpr int kLineExitOk = 0;
inline constexpr int kLineExitFailed = 1;         // the database failed otherwise
inline constexpr int kLineExitUsage = 2;          // bad command line, token file or address
inline constexpr int kLineExitCannotConnect = 3;  // the database cannot be reached
inline constexpr int kLineExitLoginRefused = 4;   // the database refused the login
inline constexpr int kLineExitNewerSchema = 5;    // made by a newer voltrix-line
inline constexpr int kLineExitCannotServe = 6;    // the address or certificate cannot be used

}  // namespace voltrix

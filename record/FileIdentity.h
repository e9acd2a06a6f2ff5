#pragma once
// Which file a path names now, so that a file replaced under the same name
// (a log rotated or moved aside) is told from the one read before.

#include <cstdint>
#include <optional>
#include <string>

namespace voltrix {

struct FileIdentity {
  std::uint64_t device = 0, inode = 0;
  std::uint64_t size = 0;
};

// Empty when nothing is there (or it cannot be looked at).
std::optional<FileIdentity> fileIdentity(const std::string& path);

}  // namespace voltrix

#pragma once
// Files that must never be half written: a signing key, a job's image, the
// note of the last good job, how far the line took the log. Each is written under a temporary
// name beside its place, flushed to the disk, then renamed over it, so a
// crash leaves the old file or the new one, never a mix.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace voltrix {

enum class Replace {
  Allowed,  // whatever stood under the name is replaced
  Never,    // a file already there is kept and the write fails
};

// Writes `bytes` to `path` with the permission bits `mode` (0600 for a
// secret). False with `error` (naming the file) when it cannot.
bool writeFileDurably(const std::string& path, std::span<const std::uint8_t> bytes, unsigned mode,
                      Replace replace, std::string& error);

// The whole of a regular file of at most `limit` bytes; empty with `error`
// when it is missing, not a regular file, larger, or unreadable.
std::optional<std::vector<std::uint8_t>> readFileWhole(const std::string& path, std::uint64_t limit,
                                                       std::string& error);

}  // namespace voltrix

#pragma once
// A small file replaced whole or not at all, and kept across a power cut:
// written beside its place, flushed to the disk, then renamed over it.

#include <string>

namespace voltrix::uplink {

// False with `error` when it could not be written; the old file then stays.
bool replaceFileDurably(const std::string& path, const std::string& bytes, std::string& error);

}  // namespace voltrix::uplink

#pragma once

#include <cstdio>
#include <string>

namespace voltrix::cli {

// Prints the segment table of an image, one line per counted segment.
// Returns the process exit code.
int listSegments(const std::string& imageFile, std::FILE* out, std::FILE* err);

}  // namespace voltrix::cli

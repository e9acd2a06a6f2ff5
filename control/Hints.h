#pragma once
// The second line under a system text: what the fixed text cannot say (which
// file, which value, which folder) and what the operator can do about it.

#include <string>

#include "engine/DownloadState.h"
#include "engine/Refusal.h"

namespace voltrix {

// Why the image `path` cannot be used, naming the folder it was looked for
// in when `folder` is not empty: missing, a directory, not a regular file, a
// link that leads nowhere or round in a loop, not readable.
std::string describeImageProblem(const std::string& path, const std::string& folder);

// Which segment runs past the end of the image, from the table in `state`.
std::string describeSegmentPastEnd(const DownloadState& state, const std::string& imagePath);

// What to do when DOWNLOAD refused the image at `imagePath`; empty where
// the system text says it all.
std::string hintForRefusal(Refusal refusal, const DownloadState& state,
                           const std::string& imagePath);

// For a port from the device map that would not open: the value and the
// port number it was read as.
std::string describeDeviceMapValue(const std::string& value, int portNumber);

// The segment files a failed run left, for inspection; empty when none.
std::string describeKeptFiles(const DownloadState& state);

}  // namespace voltrix

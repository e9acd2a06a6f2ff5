#pragma once
// What DOWNLOAD does to the image before a run may start. The run gets a
// private folder and, in it, one snapshot of the image that the whole run
// uses: a sysbin.bin replaced or rewritten during the run can neither mix
// two images on the device nor pass the verification, and two runs in one
// working directory never share a segment file. The segment table is loaded
// from the snapshot, and every segment is checked against it before the
// device is touched, so that no image is flashed in part.

#include <optional>
#include <string>

#include "engine/DownloadState.h"
#include "engine/Refusal.h"

namespace voltrix {

// The prefix of every run folder's name.
inline constexpr char RUN_FOLDER_PREFIX[] = "voltrix-run-";

// Makes a run folder in `parent` (the front ends give "."), or where that
// cannot be written, under the system's temporary directory. Empty when
// neither works.
std::optional<std::string> createRunFolder(const std::string& parent);

// Copies the image at `imagePath` into a run folder made in `parent` (as
// createRunFolder does), under the image file name the worker reads there,
// and fills the state's table, count and cursor from that copy. On a
// refusal nothing is left on disk and the run folder is empty.
Refusal prepareRun(DownloadState& state, const std::string& imagePath, const std::string& parent);

// Removes the state's run folder with everything in it, and forgets it.
void discardRunFolder(DownloadState& state);

}  // namespace voltrix

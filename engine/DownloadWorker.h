#pragma once
// One download run over every segment of the loaded table: write, read back,
// compare, delete the verified segment's files; the first failure ends the
// run. Returns 0 when every segment verified, 1 otherwise. `busy` is back at
// idle on every ending before the device is told how the run went.

#include <cstdint>
#include <string>

#include "engine/DownloadState.h"
#include "engine/LinkPhases.h"
#include "engine/WorkerMessages.h"

namespace voltrix {

std::uint32_t DownloadWorker(DownloadState& state, MessageSink& dialog, LinkPhases& link);

// "F_%d_%s_%s": the temporary file of segment `number` (1-based), kind "W" or "R".
std::string segmentFileName(int number, const char* kind, const char* imageName);

}  // namespace voltrix

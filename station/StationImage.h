#pragma once
// The image of a station run: read and checked once, before any device is
// touched, then shared read-only by every device's run. Each run still gets
// its own private folder with its own copy of these bytes, because the
// worker reads the image and writes its segment files in the run's folder,
// and a verified run removes its folder whole.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/DownloadState.h"
#include "engine/Refusal.h"

namespace voltrix {

struct StationImage {
  std::int32_t segmentCount = 0;
  SegmentColumn segmentOffsets{};
  SegmentColumn segmentAddresses{};
  SegmentColumn segmentLengths{};
  std::vector<std::uint8_t> bytes;  // the snapshot every run uses
  std::string path;                 // where it was read, absolute
  std::string sha256;               // of `bytes`, lowercase hex
  // Where each run's private folder is made: "." for the working directory.
  std::string runFolders = ".";
};

struct StationImageLoad {
  std::shared_ptr<const StationImage> image;  // null on a refusal
  Refusal refusal = Refusal::None;
  std::string hint;  // what to do about the refusal; may be empty
};

// Reads and checks the image at `imagePath` as DOWNLOAD does, in a run
// folder made for the purpose in `runFolderParent`; the runs that use the
// image make their folders there too.
StationImageLoad loadStationImage(const std::string& imagePath, const std::string& runFolderParent);

// Gives `state` a private run folder holding the image and fills its table;
// the folder is made in `runFolderParent` or, where that cannot be
// written, in the temporary directory. False when no folder could be made
// or written anywhere: a station never lets two runs share segment files.
bool provisionRun(const StationImage& image, DownloadState& state,
                  const std::string& runFolderParent);

}  // namespace voltrix

#include "engine/RunPreparation.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>

#include "engine/FileIo.h"
#include "engine/ImageFileOps.h"

namespace voltrix {

namespace {

enum class Snapshot { Taken, CannotOpen, ReadError, WriteError };

// Copies the part of the image a run can ever use.
Snapshot copyImage(const std::string& imageName, const std::string& snapshotName) {
  File image = openForReading(imageName);
  if (!image) return Snapshot::CannotOpen;
  File snapshot = createFreshFile(snapshotName);
  if (!snapshot) return Snapshot::WriteError;
  std::array<std::uint8_t, 64 * 1024> block{};
  std::uint64_t copied = 0;
  while (copied < USABLE_IMAGE_PREFIX) {
    const auto wanted = static_cast<std::size_t>(
        std::min<std::uint64_t>(block.size(), USABLE_IMAGE_PREFIX - copied));
    const long long got = image.readFully(block.data(), wanted);
    if (got < 0) return Snapshot::ReadError;
    if (got == 0) break;
    if (!snapshot.writeFully(block.data(), static_cast<std::size_t>(got))) {
      return Snapshot::WriteError;
    }
    copied += static_cast<std::uint64_t>(got);
  }
  return Snapshot::Taken;
}

Refusal refuseAndDiscard(DownloadState& state, Refusal refusal) {
  discardRunFolder(state);
  return refusal;
}

// The table load's own result for an image that could not be copied.
Refusal refuseLoad(DownloadState& state, std::int32_t loadResult) {
  state.segmentCount = loadResult;
  state.cursor = 0;
  return refuseAndDiscard(state, loadRefusal(loadResult));
}

}  // namespace

void discardRunFolder(DownloadState& state) {
  if (!state.runFolder.empty()) removeFolder(state.runFolder);
  state.runFolder.clear();
}

Refusal prepareRun(DownloadState& state, const char* imageName) {
  state.runFolder.clear();
  if (const std::optional<std::string> folder = createPrivateFolder(RUN_FOLDER_PREFIX)) {
    state.runFolder = *folder;
    switch (copyImage(imageName, state.inRunFolder(imageName))) {
      case Snapshot::Taken:
        break;
      case Snapshot::CannotOpen:
        return refuseLoad(state, LOAD_CANNOT_OPEN);
      case Snapshot::ReadError:
        return refuseLoad(state, LOAD_READ_ERROR);
      case Snapshot::WriteError:
        // No room for a copy: the run goes on as it always did.
        discardRunFolder(state);
        break;
    }
  }

  const std::string image = state.inRunFolder(imageName);
  ImageFileOps files;
  const std::int32_t count = files.loadSegmentTable(image, state.segmentOffsets,
                                                    state.segmentAddresses, state.segmentLengths);
  state.segmentCount = count;
  state.cursor = 0;
  if (const Refusal refusal = loadRefusal(count); refusal != Refusal::None) {
    return refuseAndDiscard(state, refusal);
  }
  const std::optional<std::uint64_t> imageLength = openForReading(image).size();
  if (!imageLength) return refuseAndDiscard(state, Refusal::ImageUnreadable);
  if (firstSegmentPastEnd(*imageLength, state.segmentOffsets, state.segmentLengths, count) >= 0) {
    return refuseAndDiscard(state, Refusal::SegmentPastEnd);
  }
  if (firstNegativeLoadAddress(state.segmentAddresses, count) >= 0) {
    return refuseAndDiscard(state, Refusal::LoadAddressDamaged);
  }
  return Refusal::None;
}

}  // namespace voltrix

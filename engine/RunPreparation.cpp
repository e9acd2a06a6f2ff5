#include "engine/RunPreparation.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <system_error>

#include "engine/ImageFileOps.h"
#include "engine/SystemTexts.h"
#include "platform/FileIo.h"
#include "platform/Utf8Path.h"

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

std::optional<std::string> temporaryRunFolder() {
  std::error_code error;
  const std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
  if (error) return std::nullopt;
  // The user's temporary folder may hold their name, in any script.
  return createPrivateFolder(utf8FromPath(temporary / RUN_FOLDER_PREFIX));
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

std::optional<std::string> createRunFolder(const std::string& parent) {
  // "." keeps the folder's name relative, as the hints and summaries show it.
  const std::string prefix = parent.empty() || parent == "."
                                 ? std::string(RUN_FOLDER_PREFIX)
                                 : utf8FromPath(pathFromUtf8(parent) / RUN_FOLDER_PREFIX);
  if (auto here = createPrivateFolder(prefix)) return here;
  return temporaryRunFolder();
}

Refusal prepareRun(DownloadState& state, const std::string& imagePath, const std::string& parent) {
  state.runFolder.clear();
  const std::string snapshotName = texts::kImageFileName;
  // A folder that cannot take the copy (a full disk) is traded for one in
  // the temporary directory once; the image itself is never worked on, so
  // that nothing another program does to it can reach the device.
  for (bool retried = false;; retried = true) {
    const std::optional<std::string> folder =
        retried ? temporaryRunFolder() : createRunFolder(parent);
    if (!folder) {
      // What is wrong with the image comes first, as it always did.
      if (!openForReading(imagePath)) return refuseLoad(state, LOAD_CANNOT_OPEN);
      return refuseAndDiscard(state, Refusal::NoRunFolder);
    }
    state.runFolder = *folder;
    const Snapshot snapshot = copyImage(imagePath, state.inRunFolder(snapshotName));
    if (snapshot == Snapshot::Taken) break;
    if (snapshot == Snapshot::CannotOpen) return refuseLoad(state, LOAD_CANNOT_OPEN);
    if (snapshot == Snapshot::ReadError) return refuseLoad(state, LOAD_READ_ERROR);
    discardRunFolder(state);
    if (retried) return refuseAndDiscard(state, Refusal::NoRunFolder);
  }

  const std::string image = state.inRunFolder(snapshotName);
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

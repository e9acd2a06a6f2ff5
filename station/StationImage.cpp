#include "station/StationImage.h"

#include <filesystem>
#include <system_error>

#include "control/Hints.h"
#include "record/Sha256.h"
#include "platform/FileIo.h"
#include "engine/RunPreparation.h"
#include "engine/SystemTexts.h"
#include "platform/Utf8Path.h"

namespace voltrix {

namespace {

bool readWhole(const std::string& name, std::vector<std::uint8_t>& bytes) {
  File file = openForReading(name);
  if (!file) return false;
  const std::optional<std::uint64_t> length = file.size();
  if (!length) return false;
  bytes.resize(static_cast<std::size_t>(*length));
  return file.readFully(bytes.data(), bytes.size()) == static_cast<long long>(bytes.size());
}

}  // namespace

StationImageLoad loadStationImage(const std::string& imagePath,
                                  const std::string& runFolderParent) {
  StationImageLoad load;
  DownloadState probe;
  probe.setDefaults();
  load.refusal = prepareRun(probe, imagePath, runFolderParent);
  if (load.refusal != Refusal::None) {
    load.hint = hintForRefusal(load.refusal, probe, imagePath);
    return load;
  }
  auto image = std::make_shared<StationImage>();
  image->segmentCount = probe.segmentCount;
  image->segmentOffsets = probe.segmentOffsets;
  image->segmentAddresses = probe.segmentAddresses;
  image->segmentLengths = probe.segmentLengths;
  const bool read = readWhole(probe.inRunFolder(texts::kImageFileName), image->bytes);
  discardRunFolder(probe);
  if (!read) {
    load.refusal = Refusal::ImageUnreadable;
    load.hint = hintForRefusal(load.refusal, probe, imagePath);
    return load;
  }
  Sha256 digest;
  digest.update(image->bytes.data(), image->bytes.size());
  image->sha256 = Sha256::hex(digest.finish());
  std::error_code error;
  image->path = utf8FromPath(std::filesystem::absolute(pathFromUtf8(imagePath), error));
  if (error) image->path = imagePath;
  load.image = std::move(image);
  return load;
}

bool provisionRun(const StationImage& image, DownloadState& state,
                  const std::string& runFolderParent) {
  state.runFolder.clear();
  const std::optional<std::string> folder = createRunFolder(runFolderParent);
  if (!folder) return false;
  state.runFolder = *folder;
  File copy = createFreshFile(state.inRunFolder(texts::kImageFileName));
  if (!copy || !copy.writeFully(image.bytes.data(), image.bytes.size())) {
    copy.close();
    discardRunFolder(state);
    return false;
  }
  copy.close();
  state.segmentOffsets = image.segmentOffsets;
  state.segmentAddresses = image.segmentAddresses;
  state.segmentLengths = image.segmentLengths;
  state.segmentCount = image.segmentCount;
  state.cursor = 0;
  return true;
}

}  // namespace voltrix

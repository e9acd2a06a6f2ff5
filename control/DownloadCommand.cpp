#include "control/DownloadCommand.h"

#include <filesystem>
#include <system_error>

#include "platform/Utf8Path.h"

namespace voltrix {

DownloadCommand::DownloadCommand(DeviceRun& run, const DeviceMap& deviceMap,
                                 MessageBoxPresenter& boxes)
    : run_(run), deviceMap_(deviceMap), boxes_(boxes) {}

std::string DownloadCommand::whereImageWasLookedFor() const {
  std::error_code error;
  std::filesystem::path image = std::filesystem::absolute(pathFromUtf8(imagePath_), error);
  if (error) image = pathFromUtf8(imagePath_);
  image = image.lexically_normal();
  // sysbin.bin is looked for in a folder; an image of another name is
  // named whole.
  const bool usualName = image.filename() == pathFromUtf8(texts::kImageFileName);
  std::string line = usualName ? texts::kLookedIn + utf8FromPath(image.parent_path())
                               : texts::kLookedFor + utf8FromPath(image);
  if (!lookedRemark_.empty()) line += " (" + lookedRemark_ + ")";
  return line;
}

void DownloadCommand::showRefusal(Refusal refusal) {
  if (refusal == Refusal::ImageMissing && nameWhereLooked_) {
    const std::string text = std::string(refusalText(refusal)) + "\n" + whereImageWasLookedFor();
    boxes_.showMessageBox(text.c_str(), refusalCaption(refusal));
  } else {
    boxes_.showMessageBox(refusalText(refusal), refusalCaption(refusal));
  }
}

Refusal DownloadCommand::OnDownload() {
  RunRequest request;
  request.port = RunPort::fromDeviceMap(deviceMap_);
  request.imagePath = imagePath_;
  request.runFolderParent = runFolderParent_;
  const Refusal refusal = run_.start(request);
  if (refusal != Refusal::None) showRefusal(refusal);
  return refusal;
}

}  // namespace voltrix

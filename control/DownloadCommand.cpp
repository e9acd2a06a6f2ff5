#include "control/DownloadCommand.h"

#include <filesystem>
#include <system_error>

#include "engine/DownloadWorker.h"
#include "engine/RunPreparation.h"
#include "engine/SystemTexts.h"
#include "platform/Utf8Path.h"
#include "port/ComNumber.h"

namespace voltrix {

DownloadCommand::DownloadCommand(DownloadState& state, const DeviceMap& deviceMap,
                                 MessageBoxPresenter& boxes, WorkerLauncher& launcher,
                                 std::shared_ptr<MessageSink> dialog,
                                 std::shared_ptr<LinkPhases> link)
    : state_(state),
      deviceMap_(deviceMap),
      boxes_(boxes),
      launcher_(launcher),
      dialog_(std::move(dialog)),
      link_(std::move(link)) {}

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

Refusal DownloadCommand::refuse(Refusal refusal) {
  if (refusal == Refusal::ImageMissing && nameWhereLooked_) {
    const std::string text = std::string(refusalText(refusal)) + "\n" + whereImageWasLookedFor();
    boxes_.showMessageBox(text.c_str(), refusalCaption(refusal));
  } else {
    boxes_.showMessageBox(refusalText(refusal), refusalCaption(refusal));
  }
  return refusal;
}

Refusal DownloadCommand::OnDownload() {
  // The device map is read before the busy test, so its messages win.
  const DeviceMapValue value = deviceMap_.queryValue(SERIALCOMM_KEY, VCP0_VALUE);
  if (value.status == DeviceMapStatus::KeyUnavailable) return refuse(Refusal::RegistryDamaged);
  if (value.status == DeviceMapStatus::ValueMissing) return refuse(Refusal::DriverNotInstalled);
  registryValue_ = value.data;
  registryPort_ = portNumberFromValue(value.data);

  BusyState idle = BusyState::Idle;
  if (!state_.busy.compare_exchange_strong(idle, BusyState::Downloading)) {
    return refuse(Refusal::Busy);
  }

  if (const Refusal refusal = prepareRun(state_, imagePath_, runFolderParent_);
      refusal != Refusal::None) {
    state_.busy = BusyState::Idle;
    return refuse(refusal);
  }

  state_.comPort = registryPort_;
  state_.cancelRequested = false;
  auto dialog = dialog_;
  auto link = link_;
  DownloadState& state = state_;
  const bool started =
      launcher_.launch([&state, dialog, link] { DownloadWorker(state, *dialog, *link); });
  if (!started) {
    discardRunFolder(state_);
    state_.busy = BusyState::Idle;
    return refuse(Refusal::WorkerNotStarted);
  }
  return Refusal::None;
}

}  // namespace voltrix

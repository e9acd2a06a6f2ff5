#include "app/DownloadCommand.h"

#include "engine/DownloadWorker.h"
#include "engine/RunPreparation.h"
#include "engine/SystemTexts.h"
#include "serial/ComNumber.h"

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

Refusal DownloadCommand::refuse(Refusal refusal) {
  boxes_.showMessageBox(refusalText(refusal), refusalCaption(refusal));
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

  if (const Refusal refusal = prepareRun(state_, imagePath_); refusal != Refusal::None) {
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

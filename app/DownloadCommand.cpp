#include "app/DownloadCommand.h"

#include "engine/DownloadWorker.h"
#include "engine/ImageFileOps.h"
#include "engine/SystemTexts.h"

namespace voltrix {

int portNumberFromValue(const std::string& data) {
  // "COM" and one to four digits; anything else gives 0, which the serial
  // port refuses, so the run reports that the COM port failed to open.
  if (data.size() < 4 || data.size() > 7 || data.compare(0, 3, "COM") != 0) return 0;
  int number = 0;
  for (std::size_t i = 3; i < data.size(); ++i) {
    if (data[i] < '0' || data[i] > '9') return 0;
    number = number * 10 + (data[i] - '0');
  }
  return number;
}

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

void DownloadCommand::OnDownload() {
  // The device map is read before the busy test, so its messages win.
  const DeviceMapValue value = deviceMap_.queryValue(SERIALCOMM_KEY, VCP0_VALUE);
  if (value.status == DeviceMapStatus::KeyUnavailable) {
    boxes_.showMessageBox(texts::kRegistryDamaged, nullptr);
    return;
  }
  if (value.status == DeviceMapStatus::ValueMissing) {
    boxes_.showMessageBox(texts::kDriverNotInstalled, nullptr);
    return;
  }
  registryPort_ = portNumberFromValue(value.data);

  BusyState idle = BusyState::Idle;
  if (!state_.busy.compare_exchange_strong(idle, BusyState::Downloading)) {
    boxes_.showMessageBox(texts::kBeingInDownload, texts::kInfoCaption);
    return;
  }

  ImageFileOps files;
  const std::int32_t count = files.loadSegmentTable(texts::kImageFileName, state_.segmentOffsets,
                                                    state_.segmentAddresses, state_.segmentLengths);
  state_.segmentCount = count;
  state_.cursor = 0;
  if (const char* refusal = loadRefusalText(count); refusal != nullptr) {
    state_.busy = BusyState::Idle;
    boxes_.showMessageBox(refusal, texts::kInfoCaption);
    return;
  }

  state_.comPort = registryPort_;
  state_.cancelRequested = false;
  auto dialog = dialog_;
  auto link = link_;
  DownloadState& state = state_;
  const bool started =
      launcher_.launch([&state, dialog, link] { DownloadWorker(state, *dialog, *link); });
  if (!started) {
    state_.busy = BusyState::Idle;
    boxes_.showMessageBox(texts::kWorkerNotStarted, texts::kInfoCaption);
  }
}

}  // namespace voltrix

#include "engine/RunFailure.h"

#include "engine/SystemTexts.h"

namespace voltrix {

const char* failureText(RunFailure failure) {
  switch (failure) {
    case RunFailure::None:
      return nullptr;
    case RunFailure::FileOpening:
      return texts::kFileOpeningError;
    case RunFailure::DownloadsFileOpening:
      return texts::kDownloadsFileOpeningError;
    case RunFailure::ImageTooShort:
      return texts::kImageTooShort;
    case RunFailure::PortOpen:
      return texts::kFailToOpenCom;
    case RunFailure::DownloadRefused:
      return texts::kDownloadingFails;
    case RunFailure::VerifyRefused:
      return texts::kVerifyingFails;
    case RunFailure::VerifyMismatch:
      return texts::kIncorrectVerify;
    case RunFailure::DeviceSilent:
      return texts::kDeviceSilent;
    case RunFailure::PortGone:
      return texts::kPortGone;
    case RunFailure::Cancelled:
      return texts::kCancelled;
    case RunFailure::FileWrite:
      return texts::kFileWriteError;
  }
  return nullptr;
}

WorkerMessage failureMessage(RunFailure failure) {
  WorkerMessage message;
  message.id = failure == RunFailure::PortOpen ? UWM_PORT_FAIL : UWM_ERROR;
  message.text = failureText(failure);
  message.failure = failure;
  return message;
}

}  // namespace voltrix

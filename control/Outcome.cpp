#include "control/Outcome.h"

#include "control/ExitCodes.h"

namespace voltrix {

int exitCodeFor(Refusal refusal) {
  switch (refusal) {
    case Refusal::None:
      return kExitOk;
    case Refusal::RegistryDamaged:
    case Refusal::DriverNotInstalled:
      return kExitNoDevice;
    case Refusal::ImageMissing:
    case Refusal::ImageUnreadable:
      return kExitImageMissing;
    case Refusal::ImageEmpty:
    case Refusal::TooManySegments:
    case Refusal::SegmentPastEnd:
    case Refusal::LoadAddressDamaged:
      return kExitImageInvalid;
    case Refusal::NoRunFolder:
      return kExitFileError;
    case Refusal::Busy:
    case Refusal::WorkerNotStarted:
      return kExitInternal;
  }
  return kExitInternal;
}

int exitCodeFor(RunFailure failure) {
  switch (failure) {
    case RunFailure::None:
      return kExitOk;
    case RunFailure::PortOpen:
      return kExitPortUnavailable;
    case RunFailure::DownloadRefused:
    case RunFailure::VerifyRefused:
      return kExitDeviceRefused;
    case RunFailure::DeviceSilent:
    case RunFailure::PortGone:
      return kExitDeviceSilent;
    case RunFailure::VerifyMismatch:
      return kExitVerifyFailed;
    case RunFailure::ImageTooShort:
      return kExitImageInvalid;
    case RunFailure::Cancelled:
      return kExitCancelled;
    case RunFailure::FileOpening:
    case RunFailure::DownloadsFileOpening:
    case RunFailure::FileWrite:
      return kExitFileError;
  }
  return kExitInternal;
}

}  // namespace voltrix

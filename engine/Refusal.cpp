#include "engine/Refusal.h"

#include "engine/ImageFileOps.h"
#include "engine/SystemTexts.h"

namespace voltrix {

Refusal loadRefusal(std::int32_t loadResult) {
  switch (loadResult) {
    case LOAD_CANNOT_OPEN:
      return Refusal::ImageMissing;
    case 0:
      return Refusal::ImageEmpty;
    case LOAD_TOO_MANY_SEGMENTS:
      return Refusal::TooManySegments;
    case LOAD_READ_ERROR:
      return Refusal::ImageUnreadable;
    default:
      return Refusal::None;
  }
}

const char* refusalText(Refusal refusal) {
  switch (refusal) {
    case Refusal::None:
      return nullptr;
    case Refusal::RegistryDamaged:
      return texts::kRegistryDamaged;
    case Refusal::DriverNotInstalled:
      return texts::kDriverNotInstalled;
    case Refusal::Busy:
      return texts::kBeingInDownload;
    case Refusal::ImageMissing:
      return texts::kSystemFileNotFound;
    case Refusal::ImageEmpty:
      return texts::kDownloadingFileNotFound;
    case Refusal::TooManySegments:
      return texts::kTooManySegments;
    case Refusal::ImageUnreadable:
      return texts::kSystemFileUnreadable;
    case Refusal::SegmentPastEnd:
      return texts::kImageTooShort;
    case Refusal::LoadAddressDamaged:
      return texts::kLoadAddressDamaged;
    case Refusal::WorkerNotStarted:
      return texts::kWorkerNotStarted;
    case Refusal::NoRunFolder:
      return texts::kFileOpeningError;
  }
  return nullptr;
}

const char* refusalCaption(Refusal refusal) {
  // The device-map errors carry the application's name, all others "INFO:".
  switch (refusal) {
    case Refusal::None:
    case Refusal::RegistryDamaged:
    case Refusal::DriverNotInstalled:
      return nullptr;
    case Refusal::Busy:
    case Refusal::ImageMissing:
    case Refusal::ImageEmpty:
    case Refusal::TooManySegments:
    case Refusal::ImageUnreadable:
    case Refusal::SegmentPastEnd:
    case Refusal::LoadAddressDamaged:
    case Refusal::WorkerNotStarted:
    case Refusal::NoRunFolder:
      return texts::kInfoCaption;
  }
  return nullptr;
}

}  // namespace voltrix

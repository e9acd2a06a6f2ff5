#include "cli/Outcome.h"

#include <cstring>

#include "cli/ExitCodes.h"
#include "engine/SystemTexts.h"
#include "engine/WorkerMessages.h"

namespace voltrix::cli {

namespace {

bool is(const char* text, const char* constant) {
  return text != nullptr && std::strcmp(text, constant) == 0;
}

}  // namespace

int exitCodeForBox(const char* text) {
  if (is(text, texts::kRegistryDamaged) || is(text, texts::kDriverNotInstalled)) {
    return kExitNoDevice;
  }
  if (is(text, texts::kSystemFileNotFound) || is(text, texts::kSystemFileUnreadable)) {
    return kExitImageMissing;
  }
  if (is(text, texts::kDownloadingFileNotFound) || is(text, texts::kTooManySegments)) {
    return kExitImageInvalid;
  }
  return kExitInternal;
}

int exitCodeForFailure(std::uint32_t id, const char* text) {
  if (id == UWM_PORT_FAIL) return kExitPortUnavailable;
  if (is(text, texts::kDownloadingFails) || is(text, texts::kVerifyingFails)) {
    return kExitDeviceRefused;
  }
  if (is(text, texts::kDeviceSilent) || is(text, texts::kPortGone)) return kExitDeviceSilent;
  if (is(text, texts::kIncorrectVerify)) return kExitVerifyFailed;
  if (is(text, texts::kImageTooShort)) return kExitImageInvalid;
  if (is(text, texts::kCancelled)) return kExitCancelled;
  return kExitFileError;
}

}  // namespace voltrix::cli

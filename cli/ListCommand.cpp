#include "cli/ListCommand.h"

#include "cli/ExitCodes.h"
#include "engine/ImageFileOps.h"
#include "engine/SystemTexts.h"

namespace voltrix::cli {

int listSegments(const std::string& imageFile, std::FILE* out, std::FILE* err) {
  SegmentColumn offsets{}, addresses{}, lengths{};
  ImageFileOps ops;
  const std::int32_t count = ops.loadSegmentTable(imageFile, offsets, addresses, lengths);
  switch (count) {
    case LOAD_CANNOT_OPEN:
      std::fprintf(err, "%s\n", texts::kSystemFileNotFound);
      return kExitImageMissing;
    case LOAD_TOO_MANY_SEGMENTS:
      std::fprintf(err, "%s\n", texts::kTooManySegments);
      return kExitImageInvalid;
    case LOAD_READ_ERROR:
      std::fprintf(err, "%s\n", texts::kSystemFileUnreadable);
      return kExitImageMissing;
    case 0:
      std::fprintf(err, "%s\n", texts::kDownloadingFileNotFound);
      return kExitImageInvalid;
    default:
      break;
  }
  std::fprintf(out, "%-8s %10s %10s %10s\n", "segment", "offset", "address", "length");
  for (std::int32_t i = 0; i < count; ++i) {
    std::fprintf(out, "%-8d %10d 0x%08X %10d\n", i + 1, offsets[i],
                 static_cast<unsigned>(addresses[i]), lengths[i]);
  }
  return kExitOk;
}

}  // namespace voltrix::cli

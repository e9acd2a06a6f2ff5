#include "cli/ListCommand.h"

#include <filesystem>
#include <system_error>

#include "control/ExitCodes.h"
#include "control/Hints.h"
#include "control/Outcome.h"
#include "engine/ImageFileOps.h"
#include "platform/Utf8Path.h"

namespace voltrix::cli {

namespace {

// What is wrong with one listed segment.
struct Damage {
  const char* note = "";            // shown after the row
  Refusal refusal = Refusal::None;  // why DOWNLOAD refuses the image for it
};

Damage damageOf(std::int32_t offset, std::int32_t address, std::int32_t length,
                std::uint64_t imageLength) {
  if (length < 0) return {"damaged: a negative length", Refusal::SegmentPastEnd};
  if (!segmentFitsImage(static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(length),
                        imageLength)) {
    return {"damaged: runs past the end of the file", Refusal::SegmentPastEnd};
  }
  if (address < 0) return {"damaged: a negative load address", Refusal::LoadAddressDamaged};
  return {};
}

}  // namespace

int listSegments(const std::string& imageFile, std::FILE* out, std::FILE* err) {
  SegmentColumn offsets{}, addresses{}, lengths{};
  ImageFileOps ops;
  const std::int32_t count = ops.loadSegmentTable(imageFile, offsets, addresses, lengths);
  if (const Refusal refusal = loadRefusal(count); refusal != Refusal::None) {
    std::fprintf(err, "%s\n", refusalText(refusal));
    if (refusal == Refusal::ImageMissing || refusal == Refusal::ImageUnreadable) {
      std::fprintf(err, "%s\n", describeImageProblem(imageFile, {}).c_str());
    } else {
      std::fprintf(err, "%s: no segment can be downloaded.\n", imageFile.c_str());
    }
    return exitCodeFor(refusal);
  }
  std::error_code error;
  const std::uint64_t imageLength = std::filesystem::file_size(pathFromUtf8(imageFile), error);
  std::fprintf(out, "%-8s %10s %10s %10s\n", "segment", "offset", "address", "length");
  int damaged = 0;
  // As DOWNLOAD reports it: a segment past the end before a damaged address.
  Refusal refusal = Refusal::None;
  for (std::int32_t i = 0; i < count; ++i) {
    const Damage damage =
        error ? Damage{} : damageOf(offsets[i], addresses[i], lengths[i], imageLength);
    std::fprintf(out, "%-8d %10d 0x%08X %10d%s%s\n", i + 1, offsets[i],
                 static_cast<unsigned>(addresses[i]), lengths[i], *damage.note ? "  " : "",
                 damage.note);
    if (damage.refusal == Refusal::None) continue;
    ++damaged;
    if (refusal != Refusal::SegmentPastEnd) refusal = damage.refusal;
  }
  if (damaged > 0) {
    std::fprintf(err, "%s\n", refusalText(refusal));
    std::fprintf(err, "%s: %d segment%s cannot be downloaded.\n", imageFile.c_str(), damaged,
                 damaged == 1 ? "" : "s");
    return exitCodeFor(refusal);
  }
  return kExitOk;
}

}  // namespace voltrix::cli

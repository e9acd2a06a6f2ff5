#include "cli/ListCommand.h"

#include "cli/ExitCodes.h"
#include "cli/Outcome.h"
#include "engine/ImageFileOps.h"

namespace voltrix::cli {

int listSegments(const std::string& imageFile, std::FILE* out, std::FILE* err) {
  SegmentColumn offsets{}, addresses{}, lengths{};
  ImageFileOps ops;
  const std::int32_t count = ops.loadSegmentTable(imageFile, offsets, addresses, lengths);
  if (const Refusal refusal = loadRefusal(count); refusal != Refusal::None) {
    std::fprintf(err, "%s\n", refusalText(refusal));
    return exitCodeFor(refusal);
  }
  std::fprintf(out, "%-8s %10s %10s %10s\n", "segment", "offset", "address", "length");
  for (std::int32_t i = 0; i < count; ++i) {
    std::fprintf(out, "%-8d %10d 0x%08X %10d\n", i + 1, offsets[i],
                 static_cast<unsigned>(addresses[i]), lengths[i]);
  }
  return kExitOk;
}

}  // namespace voltrix::cli

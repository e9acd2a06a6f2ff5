#pragma once
// Why DOWNLOAD did not start a run. Each kind has one message-box text and
// caption; front ends decide from the kind and show the text.

#include <cstdint>

namespace voltrix {

enum class Refusal : std::uint8_t {
  None,                // the run was started
  RegistryDamaged,     // the device map cannot be read
  DriverNotInstalled,  // the device map holds no value for the device
  Busy,                // a run is already under way
  ImageMissing,        // sysbin.bin cannot be opened
  ImageEmpty,          // sysbin.bin holds no segment
  TooManySegments,     // sysbin.bin holds more segments than the table has room for
  ImageUnreadable,     // sysbin.bin was opened but could not be read
  SegmentPastEnd,      // a segment's data run past the end of sysbin.bin
  LoadAddressDamaged,  // a segment's load address decodes negative
  WorkerNotStarted,    // no thread could be started for the run
  NoRunFolder,         // no folder for the run's files, here or in the temporary directory
};

// The refusal for a table load's result; None for a usable segment count.
Refusal loadRefusal(std::int32_t loadResult);

// The message box's text; null for None.
const char* refusalText(Refusal refusal);
// The message box's caption; null means the application's name.
const char* refusalCaption(Refusal refusal);

}  // namespace voltrix

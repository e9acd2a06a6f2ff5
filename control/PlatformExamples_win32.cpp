#include "control/PlatformExamples.h"

namespace voltrix {

// A port above COM9 is only opened through its device path, \\.\COM10.
const PlatformExamples& platformExamples() {
  static const PlatformExamples examples{
      "port",
      "COM7",
      "COM7, \\\\.\\COM10",
      "show the slot PATH (its port, e.g. COM7) as NAME; may be\n"
      "                     repeated, one name per slot",
      "%VOLTRIX_SERIALCOMM%",
      "Device Manager, Ports (COM & LPT)   # plug the device in: it lists the attached ones",
      "Device Manager, Ports (COM & LPT)   # name one of these serial ports instead",
  };
  return examples;
}

}  // namespace voltrix

#include "control/PlatformExamples.h"

namespace voltrix {

const PlatformExamples& platformExamples() {
  static const PlatformExamples examples{
      "device node",
      "/dev/ttyACM0",
      "/dev/ttyACM0",
      "show the slot PATH (its /dev/serial/by-path name, or the\n"
      "                     port) as NAME; may be repeated, one name per slot",
      "$VOLTRIX_SERIALCOMM",
      "ls -l /dev/serial/by-path   # plug the device in: this lists the attached ones",
      "ls -l /dev/serial/by-path   # name one of these serial ports instead",
  };
  return examples;
}

}  // namespace voltrix

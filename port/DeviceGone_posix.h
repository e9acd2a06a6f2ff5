#pragma once
// Which errors of a terminal device mean that the device itself is gone.

#include <cerrno>

namespace voltrix {

// An errno of read, write or an ioctl after an unplug or a hang-up.
inline bool meansDeviceGone(int error) {
  return error == EIO || error == ENODEV || error == ENXIO;
}

}  // namespace voltrix

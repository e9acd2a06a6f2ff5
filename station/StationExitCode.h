#pragma once
// The one exit code that stands for all the devices of a station.

#include <vector>

namespace voltrix {

// The worst of the devices' exit codes. A device that may hold wrong data
// is worst, then one that refused, then the station's own trouble, then
// devices that never got the image, then a cancel:
// 9, 7, 10, 1, 8, 6, 5, 4, 3, 2, 11, 0. No device at all is 0.
int worstExitCode(const std::vector<int>& exitCodes);

}  // namespace voltrix

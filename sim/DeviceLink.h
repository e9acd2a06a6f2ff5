#pragma once
// The COM<n> link through which Voltrix finds the simulated device: a
// symbolic link in the VOLTRIX_DOSDEVICES directory pointing at the device
// side of the pseudo-terminal. Made in one step over any old link of that
// name, and removed again only while it still points at our device.

#include <cstdint>
#include <string>

namespace voltrix::sim {

std::string deviceLinkPath(const std::string& directory, std::uint32_t comNumber);

// False with errno set when the link cannot be made; an old link stays then.
bool placeDeviceLink(const std::string& linkPath, const std::string& devicePath);

// Removes the link if it still points at devicePath.
void removeDeviceLink(const std::string& linkPath, const std::string& devicePath);

}  // namespace voltrix::sim

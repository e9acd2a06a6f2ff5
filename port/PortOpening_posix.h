#pragma once
// Taking a terminal device for a port: opening the node for exclusive use
// and putting its line into raw 8N1, each failure told as a PortOpenFailure.

#include <sys/types.h>
#include <termios.h>

#include <cstdint>
#include <string>

#include "platform/FileDescriptor_posix.h"
#include "port/PortOpenFailure.h"

namespace voltrix {

// A device node opened and held for one port.
struct HeldNode {
  FileDescriptor fd;
  termios settings{};      // as the node had them when it was opened
  bool exclusive = false;  // TIOCEXCL was set by this open
};

// Opens `path` as a terminal and keeps other openers out. On failure sets
// the kind and what explains it in `failure`, and nothing stays open.
bool openAndHoldNode(const std::string& path, HeldNode& node, PortOpenFailure& failure);

// The name of the group `gid`; empty when the system knows none.
std::string groupName(gid_t gid);

// Gives up what openAndHoldNode took beyond the descriptor itself.
void releaseNode(int fd, bool exclusive);

// Raw 8N1 at `speed` from the node's `settings`, checked after applying
// them; on failure `failure` says why.
bool applyRaw8N1(int fd, termios settings, speed_t speed, std::uint32_t baudRate,
                 PortOpenFailure& failure);

}  // namespace voltrix

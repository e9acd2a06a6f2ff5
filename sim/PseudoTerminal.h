#pragma once
// A pseudo-terminal pair for the simulated device. The master side is where
// the device listens and talks; the slave side is the "serial port" the host
// opens. The simulator keeps a slave descriptor of its own open for its whole
// life, so the host may close and reopen the port between phases without the
// master seeing a hang-up, and the line is raw before the host configures it.

#include <cstdint>
#include <string>

#include "platform/FileDescriptor_posix.h"

namespace voltrix::sim {

struct PseudoTerminal {
  FileDescriptor master;  // non-blocking
  FileDescriptor slave;   // the simulator's own hold on the device side
  std::string slavePath;
};

// False with errno set when any step fails; nothing stays open then.
bool openPseudoTerminal(std::uint32_t baudRate, PseudoTerminal& terminal);

}  // namespace voltrix::sim

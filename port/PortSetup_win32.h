#pragma once
// Taking a communications port for the link: opening \\.\COMn for exclusive
// overlapped use, its queues, driver time-outs and raw 8N1 line, each
// failure told as a PortOpenFailure.

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/WinHandle_win32.h"
#include "port/PortOpenFailure.h"

namespace voltrix {

// Opens `devicePath` and checks that it is a communications port. On
// failure sets the kind and what explains it, and nothing stays open.
bool openComDevice(const std::string& devicePath, WinHandle& port, PortOpenFailure& failure);

// Queues of 4096 bytes each way; driver time-outs of n + 1000 ms for a
// read or write of n bytes; everything queued discarded.
bool configureQueues(HANDLE port, PortOpenFailure& failure);

// baudRate, 8 data bits, no parity, one stop bit, binary, no software flow
// control, checked after applying them. Hardware flow control and the modem
// control lines stay as the driver has them.
bool applyRaw8N1(HANDLE port, std::uint32_t baudRate, PortOpenFailure& failure);

}  // namespace voltrix

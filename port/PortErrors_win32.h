#pragma once
// What the Win32 error codes of a communications port mean to the port
// class: a device that went away, or why an open failed, in the same failure
// kinds as on every other platform.

#include <windows.h>

#include <string>

#include "port/PortOpenFailure.h"

namespace voltrix {

// An error of a read, a write or a status query after the device was
// unplugged or its driver gave up on it. A read that this program cancelled
// itself also ends with ERROR_OPERATION_ABORTED: the caller tells the two
// apart.
bool meansPortGone(DWORD error);

// The failure of CreateFileW on the port's device name.
void describeCreateFailure(DWORD error, PortOpenFailure& failure);

// The failure of a call on a port that did open (GetCommState, SetupComm,
// SetCommTimeouts, SetCommState...): a vanished device counts as no port.
void describeSettingsFailure(DWORD error, OpenFailure kindOtherwise, PortOpenFailure& failure);

// The system's own one-line text for an error code, without the trailing
// line break; the code itself when the system has no text.
std::string systemErrorText(DWORD error);

}  // namespace voltrix

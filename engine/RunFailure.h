#pragma once
// Why a run ended without every segment verified. Each kind has exactly one
// system text and one message number, so a front end decides from the kind
// (an exit code, a summary) and shows the text, never the other way round.

#include <cstdint>

#include "engine/WorkerMessages.h"

namespace voltrix {

enum class RunFailure : std::uint8_t {
  None,
  FileOpening,           // a segment file cannot be opened or read
  DownloadsFileOpening,  // the write file cannot be opened for sending
  ImageTooShort,         // a segment runs past the end of the image
  PortOpen,              // the serial port cannot be opened
  DownloadRefused,       // the device refused a write header
  VerifyRefused,         // the device refused a data block or a read header
  VerifyMismatch,        // the data read back differ from the image
  DeviceSilent,          // no answer within the reply bound
  PortGone,              // the port went away (unplugged)
  Cancelled,             // the operator cancelled
  FileWrite,             // the read-back file cannot be written
};

// The text the status line shows for the failure; null for None.
const char* failureText(RunFailure failure);

// The message that reports the failure: UWM_PORT_FAIL for a port that would
// not open, UWM_ERROR for everything else.
WorkerMessage failureMessage(RunFailure failure);

}  // namespace voltrix

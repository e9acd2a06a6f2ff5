#pragma once
// What the command-line front end needs of the operating system: turning
// Ctrl+C into a request to cancel, telling a terminal from a pipe, and
// spotting a program known to hold freshly attached serial ports.

namespace voltrix::cli {

// From now on Ctrl+C (and a polite request to end) only raise a flag, so a
// run can close its port and leave its files in a known state.
void catchInterrupts();
// Whether Ctrl+C or a request to end has come since catchInterrupts().
bool interruptRequested();

// Whether standard output is a terminal (so a line may be redrawn in place).
bool standardOutputIsTerminal();

// Whether ModemManager is running: it grabs a new USB modem's port for a few
// seconds after the port appears.
bool modemManagerRunning();

}  // namespace voltrix::cli

#pragma once
// What the command-line front end needs of the operating system besides the
// shared signal handling: a console that shows our UTF-8 texts, telling a
// terminal from a pipe.

namespace voltrix::cli {

// Sets up standard output and error before anything is printed: a console
// shows the UTF-8 texts (the Chinese ones included), and a file or pipe
// gets the very bytes printed, line ends unchanged.
void prepareStandardOutput();

// The width in columns of the terminal on standard error (where a run is
// shown as it goes) when a line can be
// redrawn in place there; 0 for a pipe, a file or a terminal that knows no
// escape sequences (TERM=dumb or unset).
int redrawableTerminalColumns();

// Before the program ends: when it owns its console window (see
// cli/OwnConsole.h), asks for a key and waits for it, so that the operator
// can read the result. Does nothing otherwise, and nothing on Linux.
void holdOwnConsoleWindowOpen();

}  // namespace voltrix::cli

#pragma once
// A Windows console shows a UTF-8 character only when all of its bytes come
// in one write, and the C runtime writes to a console a byte at a time: 工
// would show as three replacement marks. Where standard output or error is
// the console, the runtime's bytes go instead into a pipe, and a thread
// writes them to the console as whole characters in UTF-16 (WriteConsoleW).
// Files and pipes are left alone and keep getting the very bytes printed.

#include <windows.h>

namespace voltrix::cli {

// Sends standard output (`output`) and standard error (`error`), the ones
// that are the console, through the relay from now until the program ends;
// at its end (or finishConsoleRelay()) everything printed is on the console.
// The system's standard handles go on naming the console. Returns false
// when the relay could not be set up; the streams are then left as they
// were.
bool relayToConsole(bool output, bool error);

// Writes out what is still under way and ends the relay; printing after it
// goes nowhere. Safe to call more than once.
void finishConsoleRelay();

}  // namespace voltrix::cli

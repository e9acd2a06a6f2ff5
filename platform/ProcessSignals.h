#pragma once
// What every program we ship sets up first, and how a request to end reaches
// a run: Ctrl+C, a polite kill and a closed terminal (SIGINT, SIGTERM,
// SIGHUP) only raise a flag that the front end turns into a cancel, so the
// port is closed and the files are left in a known state; output that can no
// longer be written (a closed pipe) never stops a flash.

namespace voltrix {

// Makes sure the three standard streams are open (on the null device where
// they were closed), so that nothing opened later (a serial port) gets their
// numbers and receives text meant for the operator. Call it before anything
// else is opened.
void ensureStandardStreams();

// From now on the requests to end only raise the flag, and writes to a
// closed pipe fail instead of ending the process.
void catchTerminationRequests();

// Whether a request to end has come since catchTerminationRequests(), and
// how many (a service drains on the first and cancels on the second).
bool terminationRequested();
int terminationRequestCount();

}  // namespace voltrix

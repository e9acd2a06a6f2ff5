#pragma once
// The examples the help and the hints give, in the words of the system the
// program runs on: a device node and a shell command on Linux, a COM port
// and Device Manager on Windows.

namespace voltrix {

struct PlatformExamples {
  // What --port names: "device node" or "port".
  const char* portKind;
  // One port, as typed after --port.
  const char* port;
  // The ports the help names as examples for --port.
  const char* portExamples;
  // The help's text for --label, which tells what a slot's PATH is; a line
  // break in it goes on in the help's column of option texts.
  const char* labelText;
  // The device map's environment variable as the shell writes it.
  const char* deviceMapVariable;
  // Where to see the attached serial ports, with a note after it.
  const char* listAttachedPorts;
  const char* listPortsToNameOne;
};

const PlatformExamples& platformExamples();

}  // namespace voltrix

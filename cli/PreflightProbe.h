#pragma once
// What the preflight check finds out about a device node and the host, as
// plain facts; cli/Preflight.cpp judges them. The facts come from the
// platform's PreflightProbe_<platform>.cpp.

#include <string>
#include <vector>

#include "record/UsbIdentity.h"

namespace voltrix::cli {

// Where the kernel's and udev's views of the system are read, so that a
// test can point them at a tree of its own.
struct PreflightRoots {
  std::string sys = "/sys";
  std::string proc = "/proc";
  std::string udevData = "/run/udev/data";
  // udev's rule folders, highest precedence first: a file in an earlier
  // folder hides one of the same name in a later one.
  std::vector<std::string> udevRuleFolders = {"/etc/udev/rules.d", "/run/udev/rules.d",
                                              "/lib/udev/rules.d", "/usr/lib/udev/rules.d"};
};

enum class NodeAccess {
  Ready,             // opened for reading and writing, nobody else holds it
  Missing,           // no such node
  NotATerminal,      // opened, but it is no serial port
  PermissionDenied,  // this user may not open it
  Busy,              // another program holds it for itself
  InUse,             // it opens, but another program has it open too and would
                     // take the device's answers (no lock, no TIOCEXCL: cat, a terminal)
  Failed,            // another error; systemMessage says which
};

struct ProcessHolding {
  int pid = 0;
  std::string command;
  // It also holds the other end of this pseudo-terminal: it is the device
  // (a simulator), not a program in the device's way.
  bool deviceEnd = false;
};

enum class Knowledge { Unknown, Yes, No };

struct DeviceFacts {
  std::string path;
  std::string kernelName;  // "ttyUSB0"; empty when unknown
  NodeAccess access = NodeAccess::Failed;
  std::string systemMessage;
  std::string group;                    // the group owning the node
  std::string mode;                     // "crw-rw----"
  bool groupMayReadWrite = false;       // the mode lets that group read and write
  bool inGroup = false;                 // this process is a member of it
  std::vector<ProcessHolding> holders;  // processes with the node open
  UsbIdentity usb;
  int latencyTimerMs = -1;  // a USB serial adapter's latency timer; -1 when it has none
  std::string latencyTimerPath;
  Knowledge modemManagerIgnores = Knowledge::Unknown;  // udev's mark on the device
};

struct HostFacts {
  bool modemManagerRunning = false;
  // The installed udev rule of ours that keeps ModemManager away from USB
  // serial ports; empty when there is none.
  std::string ignoreRuleFile;
};

HostFacts probeHost(const PreflightRoots& roots);
DeviceFacts probeDevice(const std::string& path, const PreflightRoots& roots);

}  // namespace voltrix::cli

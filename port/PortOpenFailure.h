#pragma once
// Why a serial port would not open, as facts a front end can act on, and the
// sentence that tells the operator what to do about it.

#include <cstdint>
#include <string>

namespace voltrix {

enum class OpenFailure {
  None,
  OutOfRange,           // port 0 or above 1024
  NoSuchPort,           // no device node for the number, or it does not exist
  PermissionDenied,     // the device node exists but may not be opened
  PortBusy,             // another program (or this one) holds the port
  NotASerialPort,       // the node is not a terminal device
  ConfigurationFailed,  // the line settings could not be applied
  MonitorFailed,        // the monitor thread could not be started
};

// What went wrong with the line settings of a ConfigurationFailed.
enum class SettingsProblem {
  None,
  UnsupportedSpeed,  // the driver has no setting for the baud rate
  Refused,           // the system refused the settings (systemMessage says why)
  NotTaken,          // accepted, but raw 8N1 at the baud rate did not stick
};

struct PortOpenFailure {
  OpenFailure kind = OpenFailure::None;
  std::uint32_t portNumber = 0;  // the COM number asked for
  // The node the number stands for; empty when none was found.
  std::string devicePath;
  // Why the number stands for no node (the resolver's words); may be empty.
  std::string unresolvedReason;
  // Whose members may open the node: the group to join on PermissionDenied.
  std::string group;
  // The system's own words for the error, where they tell more than the kind.
  std::string systemMessage;
  SettingsProblem settings = SettingsProblem::None;
  std::uint32_t baudRate = 0;  // the speed asked for, with a SettingsProblem

  bool operator==(const PortOpenFailure&) const = default;
};

// A short English sentence for the failure, naming what to do where there is
// something to do (join the group that owns the device, close the other
// program).
std::string describeOpenFailure(const PortOpenFailure& failure);

}  // namespace voltrix

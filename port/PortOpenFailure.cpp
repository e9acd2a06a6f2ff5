#include "port/PortOpenFailure.h"

namespace voltrix {

namespace {

std::string comName(std::uint32_t portNumber) {
  return "COM" + std::to_string(portNumber);
}

// " (<text>)", or nothing for no text.
std::string inParentheses(const std::string& text) {
  return text.empty() ? std::string() : " (" + text + ")";
}

std::string settingsNote(const PortOpenFailure& failure) {
  switch (failure.settings) {
    case SettingsProblem::UnsupportedSpeed:
      return "unsupported baud rate " + std::to_string(failure.baudRate);
    case SettingsProblem::NotTaken:
      return "the driver did not take raw 8N1 at " + std::to_string(failure.baudRate) + " baud";
    case SettingsProblem::Refused:
    case SettingsProblem::None:
      break;
  }
  return failure.systemMessage;
}

std::string describeMissingPort(const PortOpenFailure& failure, const std::string& port) {
  if (failure.devicePath.empty()) {
    const std::string reason = failure.unresolvedReason.empty()
                                   ? comName(failure.portNumber) + " has no device node"
                                   : failure.unresolvedReason;
    return "No serial port found: " + reason + ". Check that the device is connected.";
  }
  if (!failure.systemMessage.empty()) {
    return "The serial port " + port + " cannot be opened" + inParentheses(failure.systemMessage) +
           ": check that the device is connected.";
  }
  return "The serial port " + port + " does not exist: check that the device is connected.";
}

}  // namespace

std::string describeOpenFailure(const PortOpenFailure& failure) {
  const std::string port =
      failure.devicePath.empty() ? std::string("the port") : failure.devicePath;
  switch (failure.kind) {
    case OpenFailure::None:
      return "The port " + port + " is open.";
    case OpenFailure::OutOfRange:
      return "The port number is out of range" + inParentheses(comName(failure.portNumber)) +
             ": COM ports are numbered 1 to 1024.";
    case OpenFailure::NoSuchPort:
      return describeMissingPort(failure, port);
    case OpenFailure::PermissionDenied:
      if (!failure.group.empty()) {
        return "Permission denied on " + port + ": add your user to the '" + failure.group +
               "' group (sudo usermod -aG " + failure.group + " $USER) and log in again.";
      }
      return "Permission denied on " + port + ": ask for read and write access to it.";
    case OpenFailure::PortBusy:
      return "The port " + port + " is held by another program.";
    case OpenFailure::NotASerialPort:
      return (failure.devicePath.empty() ? std::string("The device") : failure.devicePath) +
             " is not a serial port.";
    case OpenFailure::ConfigurationFailed:
      return "The line settings could not be applied to " + port +
             inParentheses(settingsNote(failure)) + ".";
    case OpenFailure::MonitorFailed:
      return "The port " + port + " could not be watched: its monitor thread did not start.";
  }
  return "The port " + port + " could not be opened.";
}

}  // namespace voltrix

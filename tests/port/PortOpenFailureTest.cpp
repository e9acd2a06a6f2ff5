#include <gtest/gtest.h>

#include "port/PortOpenFailure.h"

namespace voltrix {
namespace {

PortOpenFailure onNode(OpenFailure kind, const std::string& devicePath) {
  PortOpenFailure failure;
  failure.kind = kind;
  failure.portNumber = 5;
  failure.devicePath = devicePath;
  return failure;
}

TEST(PortOpenFailureText, NamesTheNodeAndWhatToDo) {
  PortOpenFailure speed = onNode(OpenFailure::ConfigurationFailed, "/dev/ttyUSB1");
  speed.settings = SettingsProblem::UnsupportedSpeed;
  speed.baudRate = 12345;
  EXPECT_EQ(describeOpenFailure(speed),
            "The line settings could not be applied to /dev/ttyUSB1 (unsupported baud rate "
            "12345).");

  PortOpenFailure range;
  range.kind = OpenFailure::OutOfRange;
  EXPECT_EQ(describeOpenFailure(range),
            "The port number is out of range (COM0): COM ports are numbered 1 to 1024.");
  range.portNumber = 1025;
  EXPECT_EQ(describeOpenFailure(range),
            "The port number is out of range (COM1025): COM ports are numbered 1 to 1024.");

  // Without a group that grants access there is no group to join.
  EXPECT_EQ(describeOpenFailure(onNode(OpenFailure::PermissionDenied, "/dev/ttyS0")),
            "Permission denied on /dev/ttyS0: ask for read and write access to it.");

  PortOpenFailure unplugged = onNode(OpenFailure::NoSuchPort, "/dev/pts/9");
  unplugged.systemMessage = "Input/output error";
  EXPECT_EQ(describeOpenFailure(unplugged),
            "The serial port /dev/pts/9 cannot be opened (Input/output error): check that the "
            "device is connected.");
}

TEST(PortOpenFailureText, PermissionDeniedNamesTheGroupToJoin) {
  PortOpenFailure failure = onNode(OpenFailure::PermissionDenied, "/dev/ttyACM0");
  failure.group = "dialout";
  EXPECT_EQ(describeOpenFailure(failure),
            "Permission denied on /dev/ttyACM0: add your user to the 'dialout' group (sudo "
            "usermod -aG dialout $USER) and log in again.");
}

TEST(PortOpenFailureText, AMissingPortSaysWhereItWasLookedFor) {
  PortOpenFailure unresolved;
  unresolved.kind = OpenFailure::NoSuchPort;
  unresolved.portNumber = 7;
  EXPECT_EQ(describeOpenFailure(unresolved),
            "No serial port found: COM7 has no device node. Check that the device is connected.");
  unresolved.unresolvedReason = "COM7: no USB virtual COM port is attached";
  EXPECT_EQ(describeOpenFailure(unresolved),
            "No serial port found: COM7: no USB virtual COM port is attached. Check that the "
            "device is connected.");
  EXPECT_EQ(describeOpenFailure(onNode(OpenFailure::NoSuchPort, "/dev/ttyACM0")),
            "The serial port /dev/ttyACM0 does not exist: check that the device is connected.");
}

TEST(PortOpenFailureText, SettingsProblemsSayWhatWasRefused) {
  PortOpenFailure refused = onNode(OpenFailure::ConfigurationFailed, "/dev/ttyUSB0");
  refused.settings = SettingsProblem::Refused;
  refused.systemMessage = "Invalid argument";
  refused.baudRate = 57600;
  EXPECT_EQ(describeOpenFailure(refused),
            "The line settings could not be applied to /dev/ttyUSB0 (Invalid argument).");

  PortOpenFailure notTaken = onNode(OpenFailure::ConfigurationFailed, "/dev/ttyUSB0");
  notTaken.settings = SettingsProblem::NotTaken;
  notTaken.baudRate = 57600;
  EXPECT_EQ(describeOpenFailure(notTaken),
            "The line settings could not be applied to /dev/ttyUSB0 (the driver did not take raw "
            "8N1 at 57600 baud).");
}

TEST(PortOpenFailureText, EveryOtherKindNamesTheNode) {
  EXPECT_EQ(describeOpenFailure(onNode(OpenFailure::PortBusy, "/dev/ttyACM0")),
            "The port /dev/ttyACM0 is held by another program.");
  EXPECT_EQ(describeOpenFailure(onNode(OpenFailure::NotASerialPort, "/dev/null")),
            "/dev/null is not a serial port.");
  EXPECT_EQ(describeOpenFailure(onNode(OpenFailure::NotASerialPort, "")),
            "The device is not a serial port.");
  EXPECT_EQ(describeOpenFailure(onNode(OpenFailure::MonitorFailed, "/dev/ttyACM0")),
            "The port /dev/ttyACM0 could not be watched: its monitor thread did not start.");
  EXPECT_EQ(describeOpenFailure(onNode(OpenFailure::None, "/dev/ttyACM0")),
            "The port /dev/ttyACM0 is open.");
  // A node named relative to the working directory (--port ttyACM0) is named as given.
  EXPECT_EQ(describeOpenFailure(onNode(OpenFailure::PortBusy, "ttyACM0")),
            "The port ttyACM0 is held by another program.");
}

}  // namespace
}  // namespace voltrix

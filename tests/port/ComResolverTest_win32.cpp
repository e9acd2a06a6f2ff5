// COM numbers on Windows: the device names the port class opens, and the USB
// virtual COM ports read from the registry's serial-port map.

#include <gtest/gtest.h>
#include <stdlib.h>

#include "port/ComResolver.h"
#include "tests/support/SerialCommRegistry_win32.h"

namespace voltrix {
namespace {

class WindowsPorts : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(_putenv_s("VOLTRIX_DOSDEVICES", ""), 0); }
};

TEST_F(WindowsPorts, EveryNumberOpensThroughTheDeviceNamespace) {
  const auto resolver = systemComResolver();
  EXPECT_EQ(resolver->resolve(3).devicePath, "\\\\.\\COM3");
  EXPECT_EQ(resolver->resolve(12).devicePath, "\\\\.\\COM12");
  const ComResolution none = resolver->resolve(0);
  EXPECT_EQ(none.devicePath, "");
  EXPECT_EQ(none.detail, "COM0 does not exist: COM ports are numbered from 1");
}

TEST_F(WindowsPorts, APortNamedByTheOperatorIsOpenedInTheDeviceNamespace) {
  EXPECT_EQ(platformPortDevice("COM7"), "\\\\.\\COM7");
  EXPECT_EQ(platformPortDevice("com12"), "\\\\.\\COM12");
  EXPECT_EQ(platformPortDevice("\\\\.\\COM12"), "\\\\.\\COM12");
  // Not a COM name: handed to the port class as it is, to fail there.
  EXPECT_EQ(platformPortDevice("COM07"), "COM07");
  EXPECT_EQ(platformPortDevice("COM"), "COM");
  EXPECT_EQ(fixedDeviceResolver("COM7")->resolve(1).devicePath, "\\\\.\\COM7");
  EXPECT_EQ(fixedDeviceResolver("")->resolve(1).devicePath, "");
}

TEST_F(WindowsPorts, TheUsbPortsComeFromTheVirtualComDevicesInTheirOrder) {
  test::SerialCommRegistry registry;
  registry.removeAll();
  EXPECT_TRUE(usbVirtualComPorts().empty());
  registry.set("\\Device\\Serial0", "COM1");
  registry.set("\\Device\\VCP10", "COM4");
  registry.set("\\Device\\VCP1", "COM9");
  registry.set("\\Device\\VCP0", "COM12");
  registry.set("\\Device\\VCP2", "COM9");  // the same port again
  registry.set("\\Device\\VCP3", "LPT1");  // no COM port
  registry.set("\\Device\\VCPx", "COM5");  // no device number
  const auto ports = usbVirtualComPorts();
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports[0].comNumber, 12u);
  EXPECT_EQ(ports[0].devicePath, "\\\\.\\COM12");
  EXPECT_EQ(ports[1].comNumber, 9u);
  EXPECT_EQ(ports[2].comNumber, 4u);
  EXPECT_EQ(ports[2].devicePath, "\\\\.\\COM4");
}

}  // namespace
}  // namespace voltrix

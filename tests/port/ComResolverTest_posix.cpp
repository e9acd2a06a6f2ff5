#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "port/ComOrder.h"
#include "port/ComResolver.h"
#include "port/ComResolver_linux.h"
#include "tests/port/PtyPair.h"
#include "tests/support/TempDir.h"

namespace voltrix {
namespace {

// Runs the body with VOLTRIX_DOSDEVICES unset.
class NoOverride {
 public:
  NoOverride() {
    if (const char* value = std::getenv("VOLTRIX_DOSDEVICES")) {
      had_ = true;
      previous_ = value;
    }
    ::unsetenv("VOLTRIX_DOSDEVICES");
  }
  ~NoOverride() {
    if (had_) ::setenv("VOLTRIX_DOSDEVICES", previous_.c_str(), 1);
  }

 private:
  bool had_ = false;
  std::string previous_;
};

TEST(ComResolverOverride, FindsLinksInAnyCase) {
  test::PtyPair pty;
  ASSERT_TRUE(pty.valid());
  test::TempDir dir;
  ASSERT_EQ(::symlink(pty.devicePath().c_str(), dir.file("COM3").c_str()), 0);
  ASSERT_EQ(::symlink(pty.devicePath().c_str(), dir.file("com12").c_str()), 0);
  ASSERT_EQ(::symlink(pty.devicePath().c_str(), dir.file("Com1024").c_str()), 0);
  test::DosDevicesOverride override(dir.path());
  const auto resolver = systemComResolver();
  for (std::uint32_t number : {3u, 12u, 1024u}) {
    const auto result = resolver->resolve(number);
    EXPECT_EQ(result.devicePath, pty.devicePath()) << number << ": " << result.detail;
  }
}

TEST(ComResolverOverride, TakesRelativeLinksFromTheDirectory) {
  test::TempDir dir;
  std::filesystem::create_directory(dir.file("nodes"));
  test::writeFileBytes(dir.file("nodes/ttyUSB0"), "");
  ASSERT_EQ(::symlink("nodes/ttyUSB0", dir.file("COM6").c_str()), 0);
  test::DosDevicesOverride override(dir.path());
  EXPECT_EQ(systemComResolver()->resolve(6).devicePath, dir.file("nodes/ttyUSB0"));
}

TEST(ComResolverOverride, MissingLinkGivesNoPathAndSaysWhy) {
  test::PtyPair pty;
  test::TempDir dir;
  ASSERT_EQ(::symlink(pty.devicePath().c_str(), dir.file("COM3").c_str()), 0);
  ASSERT_EQ(::symlink(pty.devicePath().c_str(), dir.file("COM05").c_str()), 0);  // not COM5
  test::DosDevicesOverride override(dir.path());
  for (std::uint32_t number : {5u, 30u, 1u}) {
    const auto result = systemComResolver()->resolve(number);
    EXPECT_TRUE(result.devicePath.empty()) << number;
    EXPECT_NE(result.detail.find("COM" + std::to_string(number)), std::string::npos)
        << result.detail;
    EXPECT_NE(result.detail.find(dir.path()), std::string::npos) << result.detail;
  }
}

TEST(ComResolverOverride, OnlyTheDirectoryCountsWhileItIsNamed) {
  test::TempDir dir;
  test::DosDevicesOverride override(dir.path());
  // Not even COM1 falls back to the machine's own ports.
  EXPECT_TRUE(systemComResolver()->resolve(1).devicePath.empty());
  EXPECT_TRUE(usbVirtualComPorts().empty());
}

TEST(ComResolverOverride, UnreadableDirectoryIsExplained) {
  test::DosDevicesOverride override("/nonexistent/voltrix-dosdevices");
  const auto result = systemComResolver()->resolve(3);
  EXPECT_TRUE(result.devicePath.empty());
  EXPECT_NE(result.detail.find("/nonexistent/voltrix-dosdevices"), std::string::npos)
      << result.detail;
  EXPECT_NE(result.detail.find("VOLTRIX_DOSDEVICES"), std::string::npos) << result.detail;
}

TEST(ComResolverOverride, ListsLinkedUsbPortsInTheDefaultOrder) {
  test::TempDir dir;
  for (const char* node : {"ttyUSB0", "ttyACM1", "ttyACM0", "ttyS0"}) {
    test::writeFileBytes(dir.file(node), "");
  }
  std::filesystem::create_directory(dir.file("by-id"));
  ASSERT_EQ(::symlink("../ttyACM0", dir.file("by-id/usb-Zetak-if00").c_str()), 0);
  ASSERT_EQ(::symlink(dir.file("ttyUSB0").c_str(), dir.file("COM5").c_str()), 0);
  ASSERT_EQ(::symlink(dir.file("by-id/usb-Zetak-if00").c_str(), dir.file("COM7").c_str()), 0);
  ASSERT_EQ(::symlink(dir.file("ttyACM1").c_str(), dir.file("com9").c_str()), 0);
  ASSERT_EQ(::symlink(dir.file("ttyS0").c_str(), dir.file("COM1").c_str()), 0);
  test::DosDevicesOverride override(dir.path());
  const auto ports = usbVirtualComPorts();
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports[0].comNumber, 7u);
  EXPECT_EQ(ports[0].devicePath, dir.file("by-id/usb-Zetak-if00"));
  EXPECT_EQ(ports[1].comNumber, 9u);
  EXPECT_EQ(ports[1].devicePath, dir.file("ttyACM1"));
  EXPECT_EQ(ports[2].comNumber, 5u);
  EXPECT_EQ(ports[2].devicePath, dir.file("ttyUSB0"));
  for (const auto& port : ports) {
    EXPECT_EQ(systemComResolver()->resolve(port.comNumber).devicePath, port.devicePath);
  }
}

TEST(ComResolverDefault, NumbersTheNodesOfTheDeviceDirectory) {
  test::TempDir dev;
  for (const char* node : {"ttyS0", "ttyS2", "ttyACM1", "ttyACM0", "ttyUSB3", "ttyUSB0", "tty1",
                           "console", "ttyACMx"}) {
    test::writeFileBytes(dev.file(node), "");
  }
  const auto resolver = defaultOrderResolver(dev.path());
  // COM1..COM4 are the on-board UARTs, whether or not they exist.
  struct Onboard {
    std::uint32_t number;
    const char* node;
    bool present;
  };
  for (const Onboard& port : {Onboard{1, "ttyS0", true}, Onboard{2, "ttyS1", false},
                              Onboard{3, "ttyS2", true}, Onboard{4, "ttyS3", false}}) {
    const auto result = resolver->resolve(port.number);
    EXPECT_EQ(result.devicePath, port.present ? dev.file(port.node) : "") << port.node;
    if (!port.present) {
      EXPECT_NE(result.detail.find(dev.file(port.node)), std::string::npos) << result.detail;
    }
  }
  // USB ports follow from COM5 on, ttyACM before ttyUSB, without gaps.
  const auto ports = usbComPortsIn(dev.path());
  ASSERT_EQ(ports.size(), 4u);
  const char* expected[] = {"ttyACM0", "ttyACM1", "ttyUSB0", "ttyUSB3"};
  for (std::size_t i = 0; i < ports.size(); ++i) {
    EXPECT_EQ(ports[i].comNumber, 5 + i);
    EXPECT_EQ(ports[i].devicePath, dev.file(expected[i]));
    EXPECT_EQ(resolver->resolve(ports[i].comNumber).devicePath, ports[i].devicePath);
  }
  const auto beyond = resolver->resolve(9);
  EXPECT_TRUE(beyond.devicePath.empty());
  EXPECT_NE(beyond.detail.find("COM9"), std::string::npos) << beyond.detail;
  EXPECT_NE(beyond.detail.find(dev.file("ttyUSB3")), std::string::npos) << beyond.detail;

  test::TempDir empty;
  EXPECT_TRUE(usbComPortsIn(empty.path()).empty());
  EXPECT_NE(defaultOrderResolver(empty.path())->resolve(5).detail.find("no USB virtual COM port"),
            std::string::npos);
}

TEST(ComResolverDefault, WithoutOverrideTheMachineUsesDev) {
  NoOverride plain;
  const auto system = systemComResolver();
  const auto dev = defaultOrderResolver("/dev");
  for (std::uint32_t number = 1; number <= 8; ++number) {
    EXPECT_EQ(system->resolve(number).devicePath, dev->resolve(number).devicePath) << number;
    EXPECT_EQ(system->resolve(number).detail, dev->resolve(number).detail) << number;
  }
  const auto ports = usbVirtualComPorts();
  const auto devPorts = usbComPortsIn("/dev");
  ASSERT_EQ(ports.size(), devPorts.size());
  for (std::size_t i = 0; i < ports.size(); ++i) {
    EXPECT_EQ(ports[i].devicePath, devPorts[i].devicePath);
  }
}

TEST(ComResolverDefault, EmptyVariableMeansNoOverride) {
  test::DosDevicesOverride empty("");
  // An override would explain COM1 by the variable; /dev explains it by ttyS0.
  const auto result = systemComResolver()->resolve(1);
  EXPECT_EQ(result.detail.find("VOLTRIX_DOSDEVICES"), std::string::npos) << result.detail;
  EXPECT_TRUE(result.devicePath == "/dev/ttyS0" ||
              result.detail.find("/dev/ttyS0") != std::string::npos)
      << result.detail;
  EXPECT_EQ(usbVirtualComPorts().size(), usbComPortsIn("/dev").size());
}

TEST(ComResolverOrder, AcmBeforeUsbEachInNumberOrder) {
  const std::vector<std::string> names = {"ttyUSB10", "ttyS0",    "ttyACM10", "ttyUSB2",
                                          "ttyACM2",  "ttyACM0",  "ttyACMx",  "ttyUSB",
                                          "tty1",     "ttyUSB02", "ttyACM1",  "console"};
  EXPECT_EQ(comorder::orderUsbDeviceNames(names),
            (std::vector<std::string>{"ttyACM0", "ttyACM1", "ttyACM2", "ttyACM10", "ttyUSB2",
                                      "ttyUSB10"}));
}

TEST(ComResolverOrder, ComNamesInAnyCase) {
  EXPECT_EQ(comorder::comNumberOfName("COM3"), 3u);
  EXPECT_EQ(comorder::comNumberOfName("com3"), 3u);
  EXPECT_EQ(comorder::comNumberOfName("cOm1024"), 1024u);
  EXPECT_FALSE(comorder::comNumberOfName("COM0"));
  EXPECT_FALSE(comorder::comNumberOfName("COM03"));
  EXPECT_FALSE(comorder::comNumberOfName("COM"));
  EXPECT_FALSE(comorder::comNumberOfName("COM3x"));
  EXPECT_FALSE(comorder::comNumberOfName("LPT1"));
}

TEST(ComResolverFixed, EveryNumberGivesTheSamePath) {
  const auto resolver = fixedDeviceResolver("/dev/ttyACM3");
  for (std::uint32_t number : {1u, 5u, 1024u}) {
    EXPECT_EQ(resolver->resolve(number).devicePath, "/dev/ttyACM3");
  }
  const auto none = fixedDeviceResolver("")->resolve(1);
  EXPECT_TRUE(none.devicePath.empty());
  EXPECT_FALSE(none.detail.empty());
}

}  // namespace
}  // namespace voltrix

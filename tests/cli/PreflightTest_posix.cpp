#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "cli/Preflight.h"
#include "control/ExitCodes.h"
#include "sim/PseudoTerminal.h"
#include "tests/support/TempDir.h"

namespace voltrix::cli {
namespace {

namespace fs = std::filesystem;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

struct Report {
  int exitCode;
  std::string text;
};

// A pseudo-terminal stands in for the device node; a tree in the test's
// folder for sysfs, /proc and udev, describing it as an FTDI adapter.
class Preflight : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim::openPseudoTerminal(57600, terminal));
    roots.sys = dir.file("sys");
    roots.proc = dir.file("proc");
    roots.udevData = dir.file("udev-data");
    roots.udevRuleFolders = {dir.file("etc-rules"), dir.file("lib-rules")};
    for (const auto& folder : {roots.sys, roots.proc, roots.udevData, roots.udevRuleFolders[0],
                               roots.udevRuleFolders[1]}) {
      fs::create_directories(folder);
    }
  }

  std::string deviceNumber() const {
    struct stat info {};
    EXPECT_EQ(::stat(terminal.slavePath.c_str(), &info), 0);
    return std::to_string(major(info.st_rdev)) + ":" + std::to_string(minor(info.st_rdev));
  }

  // The pty, as sysfs shows a USB serial adapter's port, with its latency timer.
  void describeAsUsbAdapter(const std::string& latencyTimer) {
    const fs::path usbDevice = fs::path(roots.sys) / "devices/pci0000:00/0000:00:14.0/usb1/1-2";
    const fs::path tty = usbDevice / "1-2:1.0/ttyUSB0/tty/ttyUSB0";
    fs::create_directories(tty);
    const std::pair<const char*, const char*> attributes[] = {{"idVendor", "0403\n"},
                                                              {"idProduct", "6001\n"},
                                                              {"serial", "FT9X\n"},
                                                              {"busnum", "1\n"},
                                                              {"devpath", "2\n"}};
    for (const auto& [name, value] : attributes) test::writeFileBytes(usbDevice / name, value);
    fs::create_directories(fs::path(roots.sys) / "dev/char");
    fs::create_directory_symlink(fs::relative(tty, fs::path(roots.sys) / "dev/char"),
                                 fs::path(roots.sys) / "dev/char" / deviceNumber());
    const fs::path port = fs::path(roots.sys) / "bus/usb-serial/devices/ttyUSB0";
    fs::create_directories(port);
    test::writeFileBytes(port / "latency_timer", latencyTimer);
  }

  void runModemManager() {
    fs::create_directories(fs::path(roots.proc) / "4242");
    test::writeFileBytes(fs::path(roots.proc) / "4242/comm", "ModemManager\n");
  }

  Report check(const std::vector<std::string>& paths) {
    const std::unique_ptr<std::FILE, FileCloser> out(std::tmpfile());
    Report report{runPreflight(paths, out.get(), roots), {}};
    std::rewind(out.get());
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, out.get())) > 0;) {
      report.text.append(buffer, got);
    }
    return report;
  }

  test::TempDir dir;
  sim::PseudoTerminal terminal;
  PreflightRoots roots;
};

TEST_F(Preflight, LatencyTimerAboveOneMillisecondIsFlaggedWithItsFix) {
  describeAsUsbAdapter("16\n");
  Report report = check({terminal.slavePath});
  EXPECT_EQ(report.exitCode, kExitPortUnavailable) << report.text;
  EXPECT_NE(report.text.find("(USB 0403:6001, serial FT9X, at 1-2): not ready"), std::string::npos)
      << report.text;
  EXPECT_NE(report.text.find("waits 16 ms"), std::string::npos) << report.text;
  EXPECT_NE(report.text.find("fix: echo 1 | sudo tee " + roots.sys +
                             "/bus/usb-serial/devices/ttyUSB0/latency_timer"),
            std::string::npos)
      << report.text;

  test::writeFileBytes(fs::path(roots.sys) / "bus/usb-serial/devices/ttyUSB0/latency_timer", "1\n");
  report = check({terminal.slavePath});
  EXPECT_EQ(report.exitCode, kExitOk) << report.text;
  EXPECT_NE(report.text.find(": ready\n1 of 1 device ready"), std::string::npos) << report.text;

  const UsbIdentity usb = usbIdentityOf(terminal.slavePath, roots.sys);
  EXPECT_EQ(usb.vidPid, "0403:6001");
  EXPECT_EQ(usb.serial, "FT9X");
  EXPECT_EQ(usb.usbPath, "1-2");
  EXPECT_EQ(kernelTtyName(terminal.slavePath, roots.sys), "ttyUSB0");
}

TEST_F(Preflight, MissingDevicesAndTheFirstFailureDecideTheExitCode) {
  const std::string missing = dir.file("ttyACM9");
  Report report = check({terminal.slavePath, missing});
  EXPECT_EQ(report.exitCode, kExitNoDevice) << report.text;
  EXPECT_NE(report.text.find(missing + ": not ready\n  - no such device"), std::string::npos)
      << report.text;
  EXPECT_NE(report.text.find("1 of 2 devices ready"), std::string::npos) << report.text;

  test::writeFileBytes(dir.file("plain-file"), "");
  report = check({dir.file("plain-file"), missing});
  EXPECT_EQ(report.exitCode, kExitPortUnavailable) << report.text;
  EXPECT_NE(report.text.find("not a serial port"), std::string::npos) << report.text;

  report = check({});
  EXPECT_EQ(report.exitCode, kExitNoDevice);
  EXPECT_NE(report.text.find("no device found"), std::string::npos);
}

TEST_F(Preflight, APortHeldExclusivelyIsBusyAndItsHolderNamed) {
  const FileDescriptor held(::open(terminal.slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  ASSERT_TRUE(held);
  ASSERT_EQ(::ioctl(held.get(), TIOCEXCL), 0);
  roots.proc = "/proc";
  const Report report = check({terminal.slavePath});
  ::ioctl(held.get(), TIOCNXCL);
  EXPECT_EQ(report.exitCode, kExitPortUnavailable) << report.text;
  EXPECT_NE(report.text.find("held by "), std::string::npos) << report.text;
  EXPECT_NE(report.text.find("(pid " + std::to_string(::getpid()) + ")"), std::string::npos)
      << report.text;
  EXPECT_EQ(check({terminal.slavePath}).exitCode, kExitOk);
}

TEST_F(Preflight, ModemManagerWithoutTheIgnoreRuleIsAProblem) {
  describeAsUsbAdapter("1\n");
  runModemManager();
  Report report = check({terminal.slavePath});
  EXPECT_EQ(report.exitCode, kExitPortUnavailable) << report.text;
  EXPECT_NE(report.text.find("ModemManager is running without the rule"), std::string::npos)
      << report.text;
  EXPECT_NE(report.text.find("fix: sudo install -m 644 res/60-voltrix.rules /etc/udev/rules.d/"),
            std::string::npos)
      << report.text;

  // A copy in /etc with the line commented out hides the packaged rule.
  const std::string rule = "KERNEL==\"ttyUSB[0-9]*\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n";
  test::writeFileBytes(roots.udevRuleFolders[0] + "/60-voltrix.rules", "# " + rule);
  test::writeFileBytes(roots.udevRuleFolders[1] + "/60-voltrix.rules", rule);
  EXPECT_EQ(check({terminal.slavePath}).exitCode, kExitPortUnavailable);

  fs::remove(roots.udevRuleFolders[0] + "/60-voltrix.rules");
  EXPECT_EQ(check({terminal.slavePath}).exitCode, kExitOk);

  // udev's own record of the device says whether the rule took hold.
  test::writeFileBytes(roots.udevData + "/c" + deviceNumber(), "E:ID_MODEL=FT232R\n");
  report = check({terminal.slavePath});
  EXPECT_NE(report.text.find("fix: sudo udevadm trigger"), std::string::npos) << report.text;
  test::writeFileBytes(roots.udevData + "/c" + deviceNumber(), "E:ID_MM_DEVICE_IGNORE=1\n");
  EXPECT_EQ(check({terminal.slavePath}).exitCode, kExitOk);
}

TEST(PreflightProblems, PermissionDeniedNamesTheGroupAndTheRule) {
  DeviceFacts device;
  device.path = "/dev/ttyACM0";
  device.access = NodeAccess::PermissionDenied;
  device.group = "dialout";
  device.mode = "crw-rw----";
  device.groupMayReadWrite = true;
  HostFacts host;
  auto problems = preflightProblems(device, host);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].what.find("crw-rw----, group dialout"), std::string::npos);
  ASSERT_EQ(problems[0].fixes.size(), 2u);
  EXPECT_EQ(problems[0].fixes[0], "sudo usermod -aG dialout $USER   # then log out and in again");
  EXPECT_EQ(problems[0].fixes[1].rfind("sudo install -m 644 res/60-voltrix.rules", 0), 0u);

  // Root's own node: only the rule helps; with it installed, the seat is why.
  device.group = "root";
  device.mode = "crw-------";
  device.groupMayReadWrite = false;
  host.ignoreRuleFile = "/usr/lib/udev/rules.d/60-voltrix.rules";
  problems = preflightProblems(device, host);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_TRUE(problems[0].fixes.empty());
  EXPECT_NE(problems[0].what.find("only to the user at the machine's seat"), std::string::npos);

  // Held by ModemManager right after plugging in: the rule keeps it off.
  device.access = NodeAccess::Busy;
  device.holders = {{812, "ModemManager"}};
  device.usb.vidPid = "0403:6001";
  device.modemManagerIgnores = Knowledge::No;
  host.modemManagerRunning = true;
  problems = preflightProblems(device, host);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].what.find("ModemManager (pid 812)"), std::string::npos);
  EXPECT_EQ(problems[0].fixes.at(0).rfind("sudo udevadm trigger", 0), 0u);

  // Another program's name reaches the terminal without its control bytes.
  device.holders = {{9, "evil\x1b]0;x\a"}};
  device.modemManagerIgnores = Knowledge::Yes;
  problems = preflightProblems(device, host);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].what, "held by evil?]0;x? (pid 9)");
  EXPECT_EQ(problems[0].fixes.at(0), "kill 9   # or close evil?]0;x?");
}

}  // namespace
}  // namespace voltrix::cli

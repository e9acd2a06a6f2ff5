// The station's parts on their own: which devices the map names and what
// they are called, the table, the lines it shows, the image it shares, and
// the watch on the folder map.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "cli/StationDisplay.h"
#include "cli/StationTable.h"
#include "control/DeviceMapWatch.h"
#include "platform/FileIo.h"
#include "sim/ImageBuilder.h"
#include "station/NaturalOrder.h"
#include "station/StationImage.h"
#include "station/StationTargets.h"
#include "tests/support/TempDir.h"

namespace voltrix::cli {
namespace {

namespace fs = std::filesystem;

TEST(StationTargets, TheMapsVirtualComPortsInNameOrderUnderTheirNames) {
  test::TempDir dir;
  ASSERT_EQ(::mkdir(dir.file("map").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(dir.file("dos").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("/dev/null", dir.file("dos/COM12").c_str()), 0);
  ASSERT_EQ(::symlink("/dev/zero", dir.file("dos/COM3").c_str()), 0);
  test::writeFileBytes(dir.file("map/VCP1"), "COM3");
  test::writeFileBytes(dir.file("map/VCP0"), "COM12");
  test::writeFileBytes(dir.file("map/Serial0"),
                       "COM1");                         // an on-board UART: not a station's device
  test::writeFileBytes(dir.file("map/VCP2"), "COM40");  // names no port
  ::setenv("VOLTRIX_DOSDEVICES", dir.file("dos").c_str(), 1);
  const auto listed = targetsOfMap(*directoryDeviceMap(dir.file("map")), {{"/dev/zero", "right"}});
  ::unsetenv("VOLTRIX_DOSDEVICES");
  EXPECT_EQ(listed.refusal, Refusal::None);
  ASSERT_EQ(listed.targets.size(), 3u);
  EXPECT_EQ(listed.targets[0].port, "/dev/null");
  EXPECT_EQ(listed.targets[0].comNumber, 12u);
  EXPECT_EQ(listed.targets[0].name, "/dev/null");
  EXPECT_EQ(listed.targets[1].name, "right");
  EXPECT_EQ(listed.targets[2].port, "");
  EXPECT_EQ(listed.targets[2].name, "\\Device\\VCP2");

  EXPECT_EQ(targetsOfMap(*directoryDeviceMap(dir.file("dos")), {}).refusal,
            Refusal::DriverNotInstalled);
  EXPECT_EQ(targetsOfMap(*directoryDeviceMap(dir.file("none")), {}).refusal,
            Refusal::RegistryDamaged);
}

TEST(StationTargets, ALabelNamesASlotByItsPathOrItsPort) {
  const Labels labels{{"pci-0000:00:14.0-usb-0:2:1.0", "left"},
                      {"/dev/serial/by-path/pci-0000:00:14.0-usb-0:3:1.0", "middle"},
                      {"/dev/ttyACM9", "right"}};
  EXPECT_EQ(slotName("pci-0000:00:14.0-usb-0:2:1.0", "/dev/ttyACM0", labels), "left");
  EXPECT_EQ(slotName("pci-0000:00:14.0-usb-0:3:1.0", "/dev/ttyACM1", labels), "middle");
  EXPECT_EQ(slotName("", "/dev/ttyACM9", labels), "right");
  EXPECT_EQ(slotName("pci-0000:00:14.0-usb-0:4:1.0", "/dev/ttyACM2", labels),
            "pci-0000:00:14.0-usb-0:4:1.0");
  EXPECT_EQ(slotName("", "/dev/ttyACM3", labels), "/dev/ttyACM3");
  // A Windows port by its name or its device path, whichever the other uses,
  // in either case.
  const Labels windows{{"COM7", "工位1"}, {"\\\\.\\COM12", "工位2"}};
  EXPECT_EQ(slotName("", "\\\\.\\COM7", windows), "工位1");
  EXPECT_EQ(slotName("", "COM12", windows), "工位2");
  EXPECT_EQ(slotName("", "com12", windows), "工位2");
  EXPECT_EQ(slotName("", "\\\\.\\com7", windows), "工位1");
  EXPECT_EQ(slotName("", "\\\\.\\COM1", windows), "\\\\.\\COM1");
}

TEST(StationTable, OneRowPerDeviceWithItsResult) {
  RunSummary verified;
  verified.result = RunSummary::Result::Verified;
  verified.port = "/dev/ttyACM0";
  verified.segments = verified.segmentsInImage = 3;
  verified.bytes = 165;
  verified.seconds = 2.06;
  RunSummary failed = verified;
  failed.result = RunSummary::Result::Failed;
  failed.port = "/dev/ttyACM1";
  failed.segments = 1;
  failed.bytes = 100;
  failed.exitCode = 9;
  failed.failure = "Incorrect in verifying the read-write data!  ";
  EXPECT_EQ(stationTable({{"left", verified}, {"/dev/ttyACM1", failed}}),
            "slot          port          segments      bytes  seconds  result\n"
            "left          /dev/ttyACM0    3 of 3          165      2.1  verified\n"
            "/dev/ttyACM1  /dev/ttyACM1    1 of 3          100      2.1  failed: Incorrect in "
            "verifying the read-write data! (exit 9)\n");
}

TEST(StationImage, ReadOnceAndCopiedIntoEachRunsOwnFolder) {
  test::TempDir dir;
  const std::string imagePath = dir.file("sysbin.bin");
  EXPECT_EQ(loadStationImage(imagePath, dir.path()).refusal, Refusal::ImageMissing);
  const auto image = buildImage({{0, 0x4000, std::vector<std::uint8_t>(300, 7), {}, {}}});
  ASSERT_TRUE(writeImageFile(imagePath, image));
  const StationImageLoad load = loadStationImage(imagePath, dir.path());
  ASSERT_EQ(load.refusal, Refusal::None);
  EXPECT_EQ(load.image->segmentCount, 1);
  EXPECT_EQ(load.image->bytes, image.bytes);
  EXPECT_EQ(load.image->sha256.size(), 64u);
  // Nothing of the check is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

  DownloadState first, second;
  ASSERT_TRUE(provisionRun(*load.image, first, dir.path()));
  ASSERT_TRUE(provisionRun(*load.image, second, dir.path()));
  EXPECT_EQ(fs::path(first.runFolder).parent_path(), fs::path(dir.path()));
  EXPECT_NE(first.runFolder, second.runFolder);
  EXPECT_EQ(test::readFileBytes(first.inRunFolder("sysbin.bin")),
            std::string(image.bytes.begin(), image.bytes.end()));
  EXPECT_EQ(second.segmentLengths[0], 300);
  removeFolder(first.runFolder);
  removeFolder(second.runFolder);
}

TEST(StationDisplay, IntoAPipeEachChangeOnceUnderItsPort) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  StationLine a{"left", "/dev/ttyA", {}, {}, false, false, 0};
  StationLine b{"/dev/ttyB", "/dev/ttyB", {}, {}, false, false, 0};
  a.progress.segmentCount = b.progress.segmentCount = 1;
  StationDisplay display(out, 0);
  display.show({a, b}, {});  // nothing to say yet
  display.note(b, "first\nsecond");
  std::rewind(out);
  char text[256] = {};
  const std::size_t got = std::fread(text, 1, sizeof text - 1, out);
  EXPECT_EQ(std::string(text, got), "/dev/ttyB: first\n/dev/ttyB: second\n");
  std::fclose(out);
}

TEST(StationDisplay, OnATerminalTheBlockIsRedrawnInPlaceWithinItsWidth) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  const StationLine a{"left", "/dev/ttyA", {}, {}, false, false, 0};
  const StationLine b{"right", "/dev/ttyB", {}, {}, false, false, 0};
  StationDisplay display(out, 30);
  display.show({a, b}, {});
  display.show({a, b}, {});
  std::rewind(out);
  char text[512] = {};
  const std::string shown(text, std::fread(text, 1, sizeof text - 1, out));
  std::fclose(out);
  // 29 columns: the last one stays free.
  const std::string line = "\rleft   /dev/ttyA    0/0   [..\033[K\n";
  EXPECT_EQ(shown.substr(0, line.size()), line);
  // The second drawing goes back up over the two lines of the first.
  EXPECT_NE(shown.find("\033[2A\rleft "), std::string::npos) << shown;
}

TEST(StationDisplay, AFinishedRowKeepsItsVerdictAndTheWaitingLineComesLast) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  // A device cancelled before its run began.
  StationLine a{"left", "/dev/ttyA", {}, {}, true, false, 11};
  a.progress.segmentCount = 1;
  a.progress.statusText = "ERROR:Download cancelled!";
  StationDisplay display(out, 40);
  const std::string waiting = "waiting for devices: 0 verified, 1 failed";
  display.show({a}, waiting);
  display.show({a}, waiting);
  std::rewind(out);
  char text[1024] = {};
  const std::string shown(text, std::fread(text, 1, sizeof text - 1, out));
  std::fclose(out);
  // The status text is cut so that the verdict stays within 39 columns.
  const std::string row = shown.substr(1, shown.find("\033[K") - 1);
  EXPECT_EQ(row.size(), 39u) << row;
  EXPECT_EQ(row.substr(row.size() - 16), "  FAIL (exit 11)") << row;
  EXPECT_NE(shown.find("\r" + waiting.substr(0, 39) + "\033[K\n"), std::string::npos) << shown;
  // Redrawn over the row and the waiting line.
  EXPECT_NE(shown.find("\033[2A\rleft "), std::string::npos) << shown;
}

TEST(NaturalOrder, NumbersCompareByValue) {
  const std::pair<const char*, const char*> ordered[] = {
      {"VCP2", "VCP10"}, {"VCP9", "VCP10"}, {"VCP02", "VCP10"}, {"VCP1", "VCP1a"},
      {"VCP", "VCP0"},   {"A10", "B2"},     {"VCP02", "VCP2"},
  };
  for (const auto& [before, after] : ordered) {
    EXPECT_TRUE(naturalLess(before, after)) << before << " < " << after;
    EXPECT_FALSE(naturalLess(after, before)) << after << " < " << before;
  }
  EXPECT_FALSE(naturalLess("VCP3", "VCP3"));
}

TEST(DeviceMapWatch, AValueAddedToTheFolderMapIsAChange) {
  test::TempDir dir;
  ASSERT_EQ(::mkdir(dir.file("map").c_str(), 0755), 0);
  ::setenv("VOLTRIX_SERIALCOMM", dir.file("map").c_str(), 1);
  const auto watch = watchDeviceMap();
  ::unsetenv("VOLTRIX_SERIALCOMM");
  watch->changed();  // whatever /dev did so far
  test::writeFileBytes(dir.file("map/VCP0"), "COM3");
  bool seen = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!(seen = watch->changed()) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(seen);
  EXPECT_TRUE(devicePresent(dir.file("map/VCP0")));
  EXPECT_FALSE(devicePresent(dir.file("map/VCP1")));
}

}  // namespace
}  // namespace voltrix::cli

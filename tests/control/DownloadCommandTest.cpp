#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "control/DownloadCommand.h"
#include "control/ThreadWorkerLauncher.h"
#include "engine/MessageQueue.h"
#include "engine/SystemTexts.h"
#include "port/ComNumber.h"
#include "sim/ImageBuilder.h"
#include "tests/support/TempDir.h"

namespace voltrix {
namespace {

class FakeDeviceMap : public DeviceMap {
 public:
  DeviceMapValue value{DeviceMapStatus::Ok, "COM3"};
  DeviceMapValue queryValue(const std::string& key, const std::string& name) const override {
    EXPECT_EQ(key, "HARDWARE\\DEVICEMAP\\SERIALCOMM\\");
    EXPECT_EQ(name, "\\Device\\VCP0");
    return value;
  }
};

struct Box {
  std::string text;
  std::string caption;  // "(app)" for the application's name
  bool operator==(const Box&) const = default;
};

class RecordingBoxes : public MessageBoxPresenter {
 public:
  std::vector<Box> shown;
  void showMessageBox(const char* text, const char* caption) override {
    shown.push_back({text, caption ? caption : "(app)"});
  }
};

// Starts nothing; remembers the work so a test can run it when it likes.
class HeldLauncher : public WorkerLauncher {
 public:
  bool accept = true;
  std::vector<std::function<void()>> held;
  bool launch(std::function<void()> work) override {
    if (!accept) return false;
    held.push_back(std::move(work));
    return true;
  }
};

// A device that accepts everything: each phase succeeds at once.
class AgreeableLink : public LinkPhases {
 public:
  std::vector<std::uint32_t> addressesWritten;
  int writeSegment(DownloadState& state, MessageSink&, const std::string& w) override {
    addressesWritten.push_back(state.currentAddress);
    test::writeFileBytes(w, "");
    return 0;
  }
  int readBackSegment(DownloadState&, MessageSink&, const std::string&,
                      const std::string& r) override {
    test::writeFileBytes(r, "");
    return 0;
  }
  int sendEndOfRun(DownloadState&, MessageSink&, int) override { return 0; }
};

// A run as a dialog has it: the messages go to the dialog's own sink.
DeviceRun::Parts dialogParts(std::shared_ptr<LinkPhases> link, WorkerLauncher& launcher,
                             std::shared_ptr<MessageSink> sink) {
  DeviceRun::Parts parts;
  parts.link = std::move(link);
  parts.launcher = &launcher;
  parts.sink = std::move(sink);
  return parts;
}

class Command : public ::testing::Test {
 protected:
  Command() {
    state.setDefaults();
    writeImage(2);
    command.setImagePath(dir.file("sysbin.bin"));
    command.setRunFolderParent(dir.path());
  }
  void writeImage(int segments) {
    std::vector<ImageRecord> records;
    for (int i = 0; i < segments; ++i) records.push_back({0, 0x100 * (i + 1), {1, 2}, {}, {}});
    ASSERT_TRUE(writeImageFile(dir.file("sysbin.bin"), buildImage(records)));
  }
  void click() { command.OnDownload(); }

  test::TempDir dir;
  DownloadState state;
  FakeDeviceMap deviceMap;
  RecordingBoxes boxes;
  HeldLauncher launcher;
  std::shared_ptr<MessageQueue> queue = std::make_shared<MessageQueue>();
  std::shared_ptr<AgreeableLink> link = std::make_shared<AgreeableLink>();
  DeviceRun run{state, dialogParts(link, launcher, queue)};
  DownloadCommand command{run, deviceMap, boxes};
};

TEST(PortNumber, TakesEveryDigitAfterCom) {
  EXPECT_EQ(portNumberFromValue("COM3"), 3);
  EXPECT_EQ(portNumberFromValue("COM12"), 12);
  EXPECT_EQ(portNumberFromValue("COM1024"), 1024);
  // Beyond the ports, but a number all the same: the port refuses it.
  EXPECT_EQ(portNumberFromValue("COM99999999"), 99999999);
}

TEST(PortNumber, WhatFollowsTheDigitsDoesNotCount) {
  EXPECT_EQ(portNumberFromValue("COM3:"), 3);
  EXPECT_EQ(portNumberFromValue("COM3A"), 3);
  EXPECT_EQ(portNumberFromValue("COM12 (USB)"), 12);
  EXPECT_EQ(portNumberFromValue("COM03"), 3);
}

TEST(PortNumber, ComInAnyCase) {
  EXPECT_EQ(portNumberFromValue("com3"), 3);
  EXPECT_EQ(portNumberFromValue("Com12"), 12);
  EXPECT_EQ(portNumberFromValue("cOM7:"), 7);
}

TEST(PortNumber, WithoutDigitsAfterComOnlyTheFourthCharacterCounts) {
  EXPECT_EQ(portNumberFromValue("COMX"), 'X' - '0');
  EXPECT_EQ(portNumberFromValue("COM:3"), ':' - '0');
  EXPECT_EQ(portNumberFromValue("COM 3"), ' ' - '0');
  EXPECT_EQ(portNumberFromValue("LPT1"), 1);
  EXPECT_EQ(portNumberFromValue(" COM3"), 'M' - '0');
  EXPECT_EQ(portNumberFromValue("COM\xE9"), -23 - '0');  // a signed byte
  // Too short to have a fourth character.
  EXPECT_EQ(portNumberFromValue("COM"), 0);
  EXPECT_EQ(portNumberFromValue(""), 0);
  // More than any port number can hold.
  EXPECT_EQ(portNumberFromValue("COM4294967296"), 0);
  EXPECT_EQ(portNumberFromValue("COM2147483648"), 0);
}

TEST_F(Command, StartsTheWorkerWithThePortFromTheMap) {
  click();
  EXPECT_TRUE(boxes.shown.empty());
  ASSERT_EQ(launcher.held.size(), 1u);
  EXPECT_EQ(command.registryPort(), 3);
  EXPECT_EQ(state.comPort, 3);
  EXPECT_EQ(state.busy, BusyState::Downloading);
  EXPECT_EQ(state.segmentCount, 2);
  EXPECT_EQ(state.cursor, 0);

  deviceMap.value.data = "COM12";
  launcher.held.front()();  // the run ends
  EXPECT_EQ(state.busy, BusyState::Idle);
  click();
  EXPECT_EQ(state.comPort, 12);
}

TEST_F(Command, ReadsThePortFromAValueInAnyCaseWithASuffix) {
  deviceMap.value.data = "com12:";
  click();
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(command.registryPort(), 12);
  EXPECT_EQ(state.comPort, 12);
}

TEST_F(Command, ABusyClickChangesNothingButTheRegistryPort) {
  click();
  deviceMap.value.data = "COM7";
  writeImage(5);
  state.cursor = 1;
  click();
  EXPECT_EQ(boxes.shown, (std::vector<Box>{{"Being in download status!", "INFO:"}}));
  EXPECT_EQ(launcher.held.size(), 1u);
  EXPECT_EQ(state.segmentCount, 2);
  EXPECT_EQ(state.cursor, 1);
  EXPECT_EQ(state.comPort, 3);
  EXPECT_EQ(command.registryPort(), 7);
}

TEST_F(Command, DeviceMapMessagesComeBeforeTheBusyTest) {
  click();
  deviceMap.value = {DeviceMapStatus::KeyUnavailable, {}};
  click();
  deviceMap.value = {DeviceMapStatus::ValueMissing, {}};
  click();
  EXPECT_EQ(boxes.shown, (std::vector<Box>{{"错误：注册表损坏！", "(app)"},
                                           {"错误：设备驱动未安装！", "(app)"}}));
  EXPECT_EQ(state.busy, BusyState::Downloading);
  EXPECT_EQ(state.comPort, 3);
}

TEST_F(Command, AMissingImageIsReportedAndTheNextClickTriesAgain) {
  std::remove(dir.file("sysbin.bin").c_str());
  click();
  EXPECT_EQ(boxes.shown,
            (std::vector<Box>{{"             System file can't be found              ", "INFO:"}}));
  EXPECT_EQ(state.segmentCount, -1);
  EXPECT_EQ(state.cursor, 0);
  EXPECT_EQ(state.busy, BusyState::Idle);
  EXPECT_TRUE(launcher.held.empty());
  writeImage(1);
  click();
  EXPECT_EQ(launcher.held.size(), 1u);
}

std::string utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

TEST_F(Command, TheDialogsNameWhereAMissingImageWasLookedFor) {
  std::remove(dir.file("sysbin.bin").c_str());
  // Relative names are looked for in the working directory, which holds no
  // image.
  const std::filesystem::path here = std::filesystem::current_path();
  const std::filesystem::path firmware = here / std::filesystem::path(u8"固件");
  struct Row {
    std::string image;
    std::string remark;
    std::string secondLine;
  };
  const std::vector<Row> rows = {
      {"sysbin.bin", "", "Looked in: " + utf8(here)},
      {"./sub/../sysbin.bin", "", "Looked in: " + utf8(here)},
      {utf8(firmware / "sysbin.bin"), "", "Looked in: " + utf8(firmware)},
      {"other.bin", "", "Looked for: " + utf8(here / "other.bin")},
      {"sysbin.bin", "the Documents folder is unknown",
       "Looked in: " + utf8(here) + " (the Documents folder is unknown)"},
  };
  for (const Row& row : rows) {
    boxes.shown.clear();
    command.setImagePath(row.image);
    command.nameWhereImageWasLookedFor(row.remark);
    click();
    EXPECT_EQ(boxes.shown,
              (std::vector<Box>{
                  {std::string(texts::kSystemFileNotFound) + "\n" + row.secondLine, "INFO:"}}))
        << row.image;
    EXPECT_EQ(state.busy, BusyState::Idle);
  }
  // Other refusals keep their one line.
  boxes.shown.clear();
  command.setImagePath(dir.file("sysbin.bin"));
  ASSERT_TRUE(writeImageFile(dir.file("sysbin.bin"), buildImage({{1, 0, {1}, {}, {}}})));
  click();
  EXPECT_EQ(boxes.shown,
            (std::vector<Box>{{"           Downloading file can't be found           ", "INFO:"}}));
}

TEST_F(Command, ImagesWithoutSegmentsOrWithTooManyAreRefused) {
  ASSERT_TRUE(writeImageFile(dir.file("sysbin.bin"), buildImage({{1, 0, {1}, {}, {}}})));
  click();
  writeImage(129);
  click();
  EXPECT_EQ(boxes.shown,
            (std::vector<Box>{{"           Downloading file can't be found           ", "INFO:"},
                              {"The system file holds more than 128 segments!", "INFO:"}}));
  EXPECT_EQ(state.busy, BusyState::Idle);
  EXPECT_TRUE(launcher.held.empty());
}

TEST_F(Command, AWorkerThatCannotStartGivesTheButtonBack) {
  launcher.accept = false;
  click();
  EXPECT_EQ(boxes.shown, (std::vector<Box>{{"The download could not be started!", "INFO:"}}));
  EXPECT_EQ(state.busy, BusyState::Idle);
}

TEST_F(Command, AClickAfterARunReloadsAndStartsFromTheFirstSegment) {
  ThreadWorkerLauncher threads;
  DeviceRun realRun{state, dialogParts(link, threads, queue)};
  DownloadCommand real{realRun, deviceMap, boxes};
  real.setImagePath(dir.file("sysbin.bin"));
  real.setRunFolderParent(dir.path());
  real.OnDownload();
  threads.joinAll();
  EXPECT_EQ(state.cursor, 2);
  EXPECT_EQ(state.busy, BusyState::Idle);
  writeImage(3);
  real.OnDownload();
  threads.joinAll();
  EXPECT_EQ(state.segmentCount, 3);
  EXPECT_EQ(link->addressesWritten,
            (std::vector<std::uint32_t>{0x100, 0x200, 0x100, 0x200, 0x300}));
  EXPECT_TRUE(boxes.shown.empty());
}

}  // namespace
}  // namespace voltrix

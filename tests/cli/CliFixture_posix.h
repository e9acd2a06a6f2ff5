#pragma once
// voltrix-cli as a factory script runs it: a real child process, a simulated
// device on a pseudo-terminal, and the exit code and output it leaves.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "sim/ImageBuilder.h"
#include "sim/ZetakSimulator.h"
#include "tests/support/Process_posix.h"
#include "tests/support/TempDir.h"

namespace voltrix {

inline std::vector<ImageRecord> threeSegments() {
  std::vector<ImageRecord> records;
  std::uint8_t value = 3;
  for (std::uint32_t length : {100u, 64u, 1u}) {
    ImageRecord record{0, static_cast<std::int32_t>(0x4000 + length * 0x100), {}, {}, {}};
    for (std::uint32_t i = 0; i < length; ++i) record.data.push_back(value += 37);
    records.push_back(record);
  }
  return records;
}

class CliDownload : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(writeImageFile(dir.file("sysbin.bin"), buildImage(records)));
    ASSERT_EQ(::mkdir(dir.file("serialcomm").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(dir.file("dosdevices").c_str(), 0755), 0);
  }
  void startDevice(sim::SimConfig config = {}) {
    device = std::make_unique<sim::ZetakSimulator>(config);
    ASSERT_TRUE(device->start());
    ASSERT_EQ(::symlink(device->devicePath().c_str(), dir.file("dosdevices/COM7").c_str()), 0);
    test::writeFileBytes(dir.file("serialcomm/VCP0"), "COM7");
  }
  // The device map and COM resolution of this test's directory.
  std::vector<std::string> environment() const {
    return {"VOLTRIX_SERIALCOMM=" + dir.file("serialcomm"),
            "VOLTRIX_DOSDEVICES=" + dir.file("dosdevices")};
  }
  test::ProcessResult cli(std::vector<std::string> args = {},
                          std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    args.insert(args.begin(), VOLTRIX_CLI);
    return runProcess(args, environment(), limit);
  }
  // Every program a test here starts runs in the test's folder (unless
  // `streams` names another), as an operator starts voltrix-cli in the
  // folder of the image.
  test::ProcessResult runProcess(
      const std::vector<std::string>& argv, const std::vector<std::string>& environment = {},
      std::chrono::milliseconds limit = std::chrono::seconds(60),
      const std::function<void(pid_t, const std::string&)>& onOutput = {},
      test::ChildStreams streams = {}) const {
    if (streams.workingDirectory.empty()) streams.workingDirectory = dir.path();
    return test::runProcess(argv, environment, limit, onOutput, streams);
  }
  void expectDeviceHoldsImage() {
    for (const ImageRecord& record : records) {
      EXPECT_EQ(device->memoryRange(static_cast<std::uint32_t>(record.loadAddress),
                                    static_cast<std::uint32_t>(record.data.size())),
                record.data);
    }
  }
  static bool contains(const std::string& out, const std::string& text) {
    return out.find(text) != std::string::npos;
  }

  test::TempDir dir;
  std::vector<ImageRecord> records = threeSegments();
  std::unique_ptr<sim::ZetakSimulator> device;
};

}  // namespace voltrix

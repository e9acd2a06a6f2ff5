// The image as an argument, run folders where the working directory cannot
// be written, run folders that go when nothing reached the device, and the
// sample image a newcomer starts from.

#include <unistd.h>

#include <filesystem>

#include "tests/cli/CliFixture_posix.h"

namespace voltrix {
namespace {

namespace fs = std::filesystem;
using test::runProcess;

// The run folders under `folder`.
std::vector<std::string> runFoldersIn(const std::string& folder) {
  std::vector<std::string> found;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.rfind("voltrix-run-", 0) == 0) found.push_back(name);
  }
  return found;
}

// Runs `args` with /proc as the working directory: a folder no one, root
// included, can make a folder in.
test::ProcessResult inUnwritableFolder(std::vector<std::string> args,
                                       std::vector<std::string> environment) {
  args.insert(args.begin(), {"/bin/sh", "-c", "cd /proc && exec \"$0\" \"$@\""});
  return runProcess(args, environment);
}

TEST_F(CliDownload, TheImageIsAnArgument) {
  startDevice();
  ASSERT_TRUE(fs::create_directory(dir.file("firmware")));
  fs::rename(dir.file("sysbin.bin"), dir.file("firmware/v2.bin"));
  auto listed = cli({"--list", "--image", "firmware/v2.bin"});
  EXPECT_EQ(listed.exitCode, 0) << listed.out;
  EXPECT_TRUE(contains(listed.out, "0x00004100")) << listed.out;

  auto missing = cli();
  EXPECT_EQ(missing.exitCode, 3) << missing.out;
  auto flashed = cli({"--image=firmware/v2.bin"});
  EXPECT_EQ(flashed.exitCode, 0) << flashed.out;
  expectDeviceHoldsImage();
  EXPECT_TRUE(runFoldersIn(dir.path()).empty());
}

TEST_F(CliDownload, AFolderThatCannotBeWrittenRunsInTheTemporaryDirectory) {
  startDevice();
  sim::ZetakSimulator second;
  ASSERT_TRUE(second.start());
  ASSERT_TRUE(fs::create_directory(dir.file("tmp")));
  auto env = environment();
  env.push_back("TMPDIR=" + dir.file("tmp"));
  const std::string image = "--image=" + dir.file("sysbin.bin");
  auto one = inUnwritableFolder({VOLTRIX_CLI, image}, env);
  EXPECT_EQ(one.exitCode, 0) << one.out;
  expectDeviceHoldsImage();

  // A station, too, instead of failing each device with "File Opening error!".
  auto station = inUnwritableFolder(
      {VOLTRIX_CLI, image, "--port", device->devicePath(), "--port", second.devicePath()}, env);
  EXPECT_EQ(station.exitCode, 0) << station.out;
  EXPECT_FALSE(contains(station.out, "File Opening error!")) << station.out;
  EXPECT_TRUE(runFoldersIn(dir.file("tmp")).empty());

  // A failed run's files are kept there, and named.
  sim::SimConfig spoiled;
  spoiled.fault = {sim::FaultKind::WrongByte, sim::SimStep::DataRequest, 1};
  sim::ZetakSimulator bad(spoiled);
  ASSERT_TRUE(bad.start());
  auto failed = inUnwritableFolder({VOLTRIX_CLI, image, "--port", bad.devicePath()}, env);
  EXPECT_EQ(failed.exitCode, 9) << failed.out;
  const auto kept = runFoldersIn(dir.file("tmp"));
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_TRUE(contains(failed.out, "kept in " + dir.file("tmp/" + kept.front()))) << failed.out;

  // Nowhere to write at all: refused before the device is touched.
  env.back() = "TMPDIR=/proc/none";
  const std::size_t sentBefore = device->bytesFromHost().size();
  auto nowhere = inUnwritableFolder({VOLTRIX_CLI, image}, env);
  EXPECT_EQ(nowhere.exitCode, 10) << nowhere.out;
  EXPECT_TRUE(contains(nowhere.out, "File Opening error!")) << nowhere.out;
  EXPECT_TRUE(contains(nowhere.out, "refused: ")) << nowhere.out;
  EXPECT_EQ(device->bytesFromHost().size(), sentBefore);
}

TEST_F(CliDownload, ARunThatSentNothingLeavesNoFolder) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
  };
  const std::vector<Case> cases = {
      {{"--port", dir.file("no-such-tty")}, 6},  // the port would not open
      {{}, 6},                                   // the map names a port that is not there
  };
  test::writeFileBytes(dir.file("serialcomm/VCP0"), "COM7");
  for (const Case& run : cases) {
    auto result = cli(run.args);
    EXPECT_EQ(result.exitCode, run.exitCode) << result.out;
    EXPECT_TRUE(contains(result.out, "Fail to open the COM!")) << result.out;
    EXPECT_FALSE(contains(result.out, "kept in")) << result.out;
    EXPECT_TRUE(runFoldersIn(dir.path()).empty());
  }
}

TEST(SampleImage, ANewcomerCanTryItFromAnEmptyFolder) {
  test::TempDir dir;
  auto made = test::runProcessIn(dir.path(), {ZETAK_SAMPLE_IMAGE});
  EXPECT_EQ(made.exitCode, 0) << made.out;
  auto listed = test::runProcessIn(dir.path(), {VOLTRIX_CLI, "--list"});
  EXPECT_EQ(listed.exitCode, 0) << listed.out;
  EXPECT_TRUE(listed.out.find("0x") != std::string::npos) << listed.out;
  auto refused = test::runProcessIn(dir.path(), {ZETAK_SAMPLE_IMAGE, "--output", "x.bin"});
  EXPECT_EQ(refused.exitCode, 2) << refused.out;
  EXPECT_FALSE(fs::exists(dir.file("--output")));
  EXPECT_FALSE(fs::exists(dir.file("x.bin")));
}

}  // namespace
}  // namespace voltrix

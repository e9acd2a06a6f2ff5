// The command lines of our programs as a user types them: every usage error
// exits 2 with a sentence naming the option, options that would have no
// effect are refused, labels that name nothing are told, and --check sees
// a port that another program reads.

#include <signal.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "control/DialogOptions.h"
#include "tests/cli/CliFixture_posix.h"
#include "voltrix/Version.h"

namespace voltrix {
namespace {

namespace fs = std::filesystem;
using test::runProcess;

struct CommandLineCase {
  std::vector<std::string> args;
  int exitCode;
  std::string says;  // a fragment of what it prints
};

const std::string kVersion = kVoltrixVersion;

TEST_F(CliDownload, CommandLinesEndWithTheirCodeAndSayWhy) {
  const std::vector<CommandLineCase> cases = {
      {{VOLTRIX_CLI, "--frobnicate"}, 2, "voltrix-cli: unknown option '--frobnicate'\n"},
      {{VOLTRIX_CLI, "stray"}, 2, "voltrix-cli: unknown argument 'stray'\n"},
      {{VOLTRIX_CLI, "--json=yes"}, 2, "voltrix-cli: --json takes no value"},
      {{VOLTRIX_CLI, "--port"}, 2, "voltrix-cli: --port wants a device node"},
      {{VOLTRIX_CLI, "--image"}, 2, "voltrix-cli: --image wants a file"},
      {{VOLTRIX_CLI, "--check", "--timeout", "3"}, 2, "--timeout has no effect with --check"},
      {{VOLTRIX_CLI, "--check", "--image", "x.bin"}, 2, "--image has no effect with --check"},
      {{VOLTRIX_CLI, "--list", "--port", "/dev/x"}, 2, "--port has no effect with --list"},
      {{VOLTRIX_CLI, "--list", "--check"}, 2, "--list and --check exclude each other"},
      {{VOLTRIX_CLI, "--list", "a.bin", "--image", "b.bin"}, 2, "name two images"},
      {{VOLTRIX_CLI, "--station", "line-1"}, 2, "--station names the station in the log"},
      {{VOLTRIX_CLI, "-q", "--json"}, 2, "--quiet and --json exclude each other"},
      {{VOLTRIX_CLI, "--all", "--label", "a=left", "--label", "b=left"},
       2,
       "the name 'left' is given to two slots"},
      {{VOLTRIX_CLI, "--all", "--label", "pci-1=left", "--label",
        "/dev/serial/by-path/pci-1=right"},
       2,
       "the slot /dev/serial/by-path/pci-1 is labelled twice"},
      {{VOLTRIX_CLI, "--frobnicate"}, 2, "Try 'voltrix-cli --help'."},
      {{VOLTRIX_CLI, "-V"}, 0, "voltrix-cli " + kVersion + "\n"},
      {{VOLTRIX_CLI, "-h"}, 0, "-p, --port DEVICE"},
      {{VOLTRIX_CLI, "/?"}, 0, "use this device node (e.g. /dev/ttyACM0)"},
      {{ZETAK_SIM, "--version"}, 0, "zetak-sim " + kVersion + "\n"},
      {{ZETAK_SIM, "--paced=yes"}, 2, "zetak-sim: --paced takes no value"},
      {{ZETAK_SAMPLE_IMAGE, "--help"}, 0, "Usage: zetak-sample-image [FILE]"},
      {{ZETAK_SAMPLE_IMAGE, "--foo"}, 2, "zetak-sample-image: unknown option '--foo'"},
      {{ZETAK_SAMPLE_IMAGE, "a.bin", "b.bin"}, 2, "unknown argument 'b.bin'"},
  };
  for (const CommandLineCase& line : cases) {
    SCOPED_TRACE(line.args[0] + " " + line.args[1]);
    const auto result = runProcess(line.args, environment());
    EXPECT_EQ(result.exitCode, line.exitCode) << result.out;
    EXPECT_TRUE(contains(result.out, line.says)) << result.out;
  }
  // A mistyped option never becomes a file of its name.
  EXPECT_FALSE(fs::exists("--foo"));
  EXPECT_FALSE(fs::exists(dir.file("a.bin")));
}

#ifdef VOLTRIX_DIALOG
TEST(DialogCommandLine, HelpAndVersionNeedNoDisplay) {
  const std::vector<std::string> noDisplay = {
      "DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=xcb"};
  auto help = runProcess({VOLTRIX_DIALOG, "--help"}, noDisplay);
  EXPECT_EQ(help.exitCode, 0) << help.out;
  EXPECT_TRUE(help.out.find("Usage: voltrix [FOLDER | FILE]") != std::string::npos) << help.out;
  auto version = runProcess({VOLTRIX_DIALOG, "-V"}, noDisplay);
  EXPECT_EQ(version.exitCode, 0) << version.out;
  EXPECT_EQ(version.out, "voltrix " + kVersion + "\n");
}
#endif

TEST(DialogCommandLine, AFolderStandsForItsImage) {
  test::TempDir dir;
  ASSERT_TRUE(fs::create_directory(dir.file("line-3")));
  const auto parse = [](std::vector<std::string> args) { return parseDialogOptions(args); };
  EXPECT_EQ(parse({}).options->imagePath, "sysbin.bin");
  const std::string folder = dir.file("line-3");
  EXPECT_EQ(parse({folder}).options->imagePath, (fs::path(folder) / "sysbin.bin").string());
  EXPECT_EQ(parse({"fw/v2.bin"}).options->imagePath, "fw/v2.bin");
  // Only a line that names no image leaves the dialog to choose its folder.
  EXPECT_FALSE(parse({}).options->imageNamed);
  EXPECT_TRUE(parse({folder}).options->imageNamed);
  EXPECT_TRUE(parse({"sysbin.bin"}).options->imageNamed);
  EXPECT_EQ(parse({"a.bin", "b.bin"}).error, "unknown argument 'b.bin'");
  EXPECT_EQ(parse({"--image", "a.bin"}).error, "unknown option '--image'");
}

class Labels : public CliDownload {
 protected:
  std::vector<std::string> lines(const std::string& text, const std::string& having) {
    std::vector<std::string> found;
    std::size_t start = 0;
    while (start < text.size()) {
      const std::size_t end = text.find('\n', start);
      const std::string line = text.substr(start, end - start);
      if (contains(line, having)) found.push_back(line);
      if (end == std::string::npos) break;
      start = end + 1;
    }
    return found;
  }
};

TEST_F(Labels, ALabelThatNamesNoDeviceIsRefusedOrToldOnce) {
  startDevice();
  sim::ZetakSimulator second;
  ASSERT_TRUE(second.start());
  // Given ports: the line is wrong, and nothing is sent.
  auto ports = cli({"--port=" + device->devicePath(), "-p", second.devicePath(), "--label",
                    "/dev/ttyACM7=left"});
  EXPECT_EQ(ports.exitCode, 2) << ports.out;
  EXPECT_TRUE(contains(ports.out,
                       "voltrix-cli: --label /dev/ttyACM7=left names none of the "
                       "devices given with --port"))
      << ports.out;
  EXPECT_TRUE(device->bytesFromHost().empty());
  EXPECT_TRUE(second.bytesFromHost().empty());

  // The device map's devices: the run goes on, and the label is told at once.
  auto all = cli({"--all", "--label", "/dev/ttyACM7=left"});
  EXPECT_EQ(all.exitCode, 0) << all.out;
  EXPECT_EQ(lines(all.out,
                  "warning: --label /dev/ttyACM7=left matched no device of the device "
                  "map")
                .size(),
            1u)
      << all.out;

  // Watching: the run goes on, and the label is told once, at the end.
  auto watched =
      cli({"--wait", "--label", "/dev/ttyACM7=left", "--label", device->devicePath() + "=right"});
  EXPECT_EQ(watched.exitCode, 0) << watched.out;
  EXPECT_EQ(lines(watched.out, "warning: --label").size(), 1u) << watched.out;
  EXPECT_TRUE(contains(watched.out, "--label /dev/ttyACM7=left matched no device while watching"))
      << watched.out;
  EXPECT_TRUE(contains(watched.out, "right ")) << watched.out;
  expectDeviceHoldsImage();
}

// A process that holds `path` open, as `cat PORT` does, until it is ended;
// it runs in `folder`.
class Holder {
 public:
  Holder(std::vector<std::string> args, const std::string& path, const std::string& folder)
      : program_(fs::canonical(args.front())), thread_([this, args, folder] {
          result_ = runProcess(args, {}, std::chrono::seconds(60), {},
                               test::ChildStreams{false, 0, &pid_, false, folder});
        }) {
    // Held once one of its descriptors leads to the node.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!holds(path) && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  }
  ~Holder() {
    ::kill(pid_.load(), SIGINT);
    if (thread_.joinable()) thread_.join();
  }
  pid_t pid() const { return pid_.load(); }
  // What it printed, once it has ended.
  std::string output() {
    if (thread_.joinable()) thread_.join();
    return result_.out;
  }
  bool holds(const std::string& path) const {
    if (pid_.load() <= 0) return false;
    // Until the program runs, the child is a copy of this test process and
    // holds what the test holds (the simulated device's own side).
    std::error_code error;
    if (fs::read_symlink("/proc/" + std::to_string(pid_.load()) + "/exe", error) != program_) {
      return false;
    }
    for (fs::directory_iterator fd("/proc/" + std::to_string(pid_.load()) + "/fd", error), end;
         !error && fd != end; fd.increment(error)) {
      std::error_code linkError;
      if (fs::read_symlink(fd->path(), linkError) == path) return true;
    }
    return false;
  }

 private:
  fs::path program_;
  std::atomic<pid_t> pid_{0};
  test::ProcessResult result_;
  std::thread thread_;
};

TEST_F(CliDownload, CheckNamesTheProgramThatReadsThePort) {
  startDevice();
  const std::string port = device->devicePath();
  // The simulator holds the other end of the pseudo-terminal: that is the
  // device, not a program in its way.
  auto alone = cli({"--check", "--port", port, "--json"});
  EXPECT_EQ(alone.exitCode, 0) << alone.out;
  EXPECT_EQ(alone.out, "{\"port\":\"" + port +
                           "\",\"ready\":true,\"exit_code\":0,\"usb\":null,\"problems\":[]}\n");

  {
    Holder cat({"/bin/cat", port}, port, dir.path());
    ASSERT_TRUE(cat.holds(port));
    auto held = cli({"--check", "--port", port});
    EXPECT_EQ(held.exitCode, 6) << held.out;
    EXPECT_TRUE(contains(held.out, "held by cat (pid " + std::to_string(cat.pid()) + ")"))
        << held.out;
    EXPECT_TRUE(contains(held.out, "fix: kill " + std::to_string(cat.pid()))) << held.out;
    auto json = cli({"--check", "--port", port, "--json"});
    EXPECT_EQ(json.exitCode, 6) << json.out;
    EXPECT_TRUE(contains(json.out, "\"ready\":false,\"exit_code\":6,")) << json.out;
  }

  // A flash under way is waited for, never killed.
  device.reset();
  ::unlink(dir.file("dosdevices/COM7").c_str());
  sim::SimConfig silent;
  silent.fault = {sim::FaultKind::Silence, sim::SimStep::Sync, 1};
  startDevice(silent);
  const std::string waiting = device->devicePath();
  Holder flash({VOLTRIX_CLI, "--port", waiting}, waiting, dir.path());
  ASSERT_TRUE(flash.holds(waiting)) << flash.output();
  auto busy = cli({"--check", "--port", waiting});
  EXPECT_EQ(busy.exitCode, 6) << busy.out;
  EXPECT_TRUE(contains(
      busy.out, "it is being flashed by voltrix-cli (pid " + std::to_string(flash.pid()) + ")"))
      << busy.out;
  EXPECT_TRUE(contains(busy.out, "fix: wait for it to end")) << busy.out;
  EXPECT_FALSE(contains(busy.out, "kill")) << busy.out;
}

}  // namespace
}  // namespace voltrix

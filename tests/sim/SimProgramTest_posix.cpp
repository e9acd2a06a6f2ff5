// zetak-sim's command line, and the program itself as a script would use it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "sim/ImageBuilder.h"
#include "sim/SimOptions.h"
#include "tests/sim/RawHost.h"
#include "tests/support/Process_posix.h"
#include "tests/support/TempDir.h"

extern char** environ;

namespace voltrix::sim::test {
namespace {

using namespace std::chrono_literals;

std::optional<SimOptions> parse(std::vector<std::string> arguments) {
  return parseSimOptions(arguments).options;
}

TEST(SimOptionsParse, EveryKnobReachesTheConfiguration) {
  const auto options =
      parse({"--baud", "9600", "--paced", "--latency-ms=25", "--refuse-syncs", "3", "--fault",
             "late-reply:read-ack:2:400", "--link-dir", "/tmp/d", "--com", "12"});
  ASSERT_TRUE(options);
  EXPECT_EQ(options->config.baudRate, 9600u);
  EXPECT_TRUE(options->config.paced);
  EXPECT_EQ(options->config.replyLatency, 25ms);
  EXPECT_EQ(options->config.refuseSyncs, 3);
  EXPECT_EQ(options->config.fault.kind, FaultKind::LateReply);
  EXPECT_EQ(options->config.fault.step, SimStep::ReadAck);
  EXPECT_EQ(options->config.fault.occurrence, 2);
  EXPECT_EQ(options->config.fault.lateBy, 400ms);
  EXPECT_EQ(options->linkDirectory, "/tmp/d");
  EXPECT_EQ(options->comNumber, 12u);
  EXPECT_FALSE(options->help);
}

TEST(SimOptionsParse, DefaultsAreTheDevicesOwn) {
  const auto options = parse({});
  ASSERT_TRUE(options);
  EXPECT_EQ(options->config.baudRate, 57600u);
  EXPECT_FALSE(options->config.paced);
  EXPECT_EQ(options->config.fault.kind, FaultKind::None);
  EXPECT_FALSE(options->comNumber);
  EXPECT_TRUE(parse({"--help"})->help);
}

TEST(SimOptionsParse, ARigOfDevicesCarriesTheFaultOnlyWhereItIsPut) {
  const auto options = parse(
      {"--devices", "4", "--fault", "silence:sync", "--fault-device", "3", "--latency-ms", "5"});
  ASSERT_TRUE(options);
  EXPECT_EQ(options->deviceCount, 4u);
  EXPECT_EQ(options->faultDevice, 3u);
  const std::vector<SimConfig> configs = deviceConfigs(*options);
  ASSERT_EQ(configs.size(), 4u);
  for (std::size_t i = 0; i < configs.size(); ++i) {
    EXPECT_EQ(configs[i].fault.kind, i == 2 ? FaultKind::Silence : FaultKind::None) << i;
    EXPECT_EQ(configs[i].replyLatency, 5ms) << i;
  }
  // Without --fault-device every device has the fault; without --devices
  // there is one device.
  for (const SimConfig& config : deviceConfigs(*parse({"--devices=2", "--fault=hangup:sync"}))) {
    EXPECT_EQ(config.fault.kind, FaultKind::HangUp);
  }
  EXPECT_EQ(deviceConfigs(*parse({})).size(), 1u);
  EXPECT_FALSE(parse({})->deviceCount);
}

TEST(SimOptionsParse, FaultPlansNameEveryKindAndStep) {
  const auto plan = parseFaultPlan("hangup:end-of-run");
  ASSERT_TRUE(plan);
  EXPECT_EQ(plan->kind, FaultKind::HangUp);
  EXPECT_EQ(plan->step, SimStep::EndOfRun);
  EXPECT_EQ(plan->occurrence, 1);
  for (const char* text : {"refuse:sync:1", "silence:write-command", "wrong-byte:data-request:3",
                           "short-block:data-request", "refuse:write-header", "refuse:write-data",
                           "refuse:read-command", "refuse:read-header", "refuse:abort"}) {
    EXPECT_TRUE(parseFaultPlan(text)) << text;
  }
}

TEST(SimOptionsParse, WrongCommandLinesAreRejectedWithAReason) {
  const std::vector<std::vector<std::string>> wrong = {
      {"--baud", "0"},
      {"--baud", "96OO"},
      {"--baud"},
      {"--latency-ms", "-1"},
      {"--refuse-syncs", "x"},
      {"--fault", "refuse"},
      {"--fault", "melt:sync"},
      {"--fault", "refuse:flush"},
      {"--fault", "refuse:sync:0"},
      {"--fault", "late-reply:sync:1"},
      {"--fault", "refuse:sync:1:5"},
      {"--com", "3"},
      {"--link-dir", "/tmp"},
      {"--link-dir", "/tmp", "--com", "0"},
      {"--paced=yes"},
      {"--frobnicate"},
      {"--devices", "0"},
      {"--devices", "257"},
      {"--devices", "two"},
      {"--fault", "silence:sync", "--fault-device", "1"},
      {"--devices", "3", "--fault-device", "2"},
      {"--devices", "3", "--fault", "silence:sync", "--fault-device", "4"},
      {"--devices", "3", "--fault", "silence:sync", "--fault-device", "0"},
      {"--devices", "2", "--link-dir", "/tmp", "--com", "1024"},
  };
  for (const auto& arguments : wrong) {
    const SimOptionsResult result = parseSimOptions(arguments);
    EXPECT_FALSE(result.options) << arguments[0];
    EXPECT_FALSE(result.error.empty()) << arguments[0];
  }
}

TEST(SimOptionsParse, AWordThatIsNoOptionIsNamedAsSuch) {
  EXPECT_EQ(parseSimOptions({"--paced", "1"}).error, "unknown argument '1'");
  EXPECT_EQ(parseSimOptions({"extra"}).error, "unknown argument 'extra'");
  EXPECT_EQ(parseSimOptions({"--latency-ms", "5", "extra", "--paced"}).error,
            "unknown argument 'extra'");
  EXPECT_EQ(parseSimOptions({"--frobnicate"}).error, "unknown option '--frobnicate'");
  EXPECT_EQ(parseSimOptions({"--baud"}).error, "--baud needs a value");
}

// zetak-sim started with its output on a pipe.
class RunningSimulator {
 public:
  explicit RunningSimulator(std::vector<std::string> arguments) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return;
    output_.reset(pipeEnds[0]);
    FileDescriptor writeEnd(pipeEnds[1]);
    arguments.insert(arguments.begin(), ZETAK_SIM_PATH);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    if (posix_spawn(&pid_, ZETAK_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~RunningSimulator() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  // The next line of output, without its newline; empty after the deadline.
  std::string readLine(std::chrono::milliseconds within = kPatience) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    for (;;) {
      if (const std::size_t end = buffered_.find('\n'); end != std::string::npos) {
        std::string line = buffered_.substr(0, end);
        buffered_.erase(0, end + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd readable{output_.get(), POLLIN, 0};
      if (left <= 0ms || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0) return {};
      char chunk[256];
      const ssize_t got = ::read(output_.get(), chunk, sizeof chunk);
      if (got <= 0) return {};
      buffered_.append(chunk, static_cast<std::size_t>(got));
    }
  }

  // Sends the signal and returns the exit status.
  int endWith(int signal) {
    ::kill(pid_, signal);
    int status = -1;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

  bool started() const { return pid_ > 0 && output_.valid(); }

 private:
  pid_t pid_ = -1;
  FileDescriptor output_;
  std::string buffered_;
};

TEST(SimProgram, PrintsTheDeviceLinksItServesAndSummarisesOnSigterm) {
  voltrix::test::TempDir directory;
  const std::string link = directory.file("COM9");
  // An old link from an earlier run is replaced.
  ASSERT_EQ(::symlink("/dev/pts/nonexistent", link.c_str()), 0);

  RunningSimulator program({"--link-dir", directory.path(), "--com", "9"});
  ASSERT_TRUE(program.started());
  const std::string devicePath = program.readLine();
  ASSERT_EQ(devicePath.rfind("/dev/pts/", 0), 0u) << devicePath;
  EXPECT_EQ(std::filesystem::read_symlink(link).string(), devicePath);

  {
    RawHost host(link);
    const Bytes block = {0x0E, 0x0D, 0x0C};
    EXPECT_EQ(host.ask({CMD_SYNC}), kAck);
    EXPECT_EQ(host.ask({CMD_WRITE}), kWriteCommandReply);
    EXPECT_EQ(host.ask(writeHeaderFirst(0x100, block)), kAck);
    EXPECT_EQ(host.ask(block), kAck);
    EXPECT_EQ(host.ask({CMD_END_OK}), kEndOfRunReply);
  }

  const int status = program.endWith(SIGTERM);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const std::string summary = program.readLine();
  EXPECT_NE(summary.find("'Z'"), std::string::npos) << summary;
  EXPECT_NE(summary.find(" 3 bytes written"), std::string::npos) << summary;
  EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST(SimProgram, EndsOnSigintWithoutARunAndAppliesItsKnobs) {
  RunningSimulator program({"--refuse-syncs", "1", "--fault", "refuse:sync:2"});
  ASSERT_TRUE(program.started());
  const std::string devicePath = program.readLine();
  ASSERT_FALSE(devicePath.empty());
  {
    RawHost host(devicePath);
    EXPECT_EQ(host.ask({CMD_SYNC}), kRefuse);
    EXPECT_EQ(host.ask({CMD_SYNC}), kSyncBusy);
    EXPECT_EQ(host.ask({CMD_SYNC}), kAck);
  }
  const int status = program.endWith(SIGINT);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_NE(program.readLine().find("no end-of-run byte, 0 bytes written"), std::string::npos);
}

TEST(SimProgram, ServesAStationOfDevicesFromOneProcess) {
  voltrix::test::TempDir directory;
  std::vector<ImageRecord> records;
  for (const std::uint32_t length : {300u, 64u}) {
    records.push_back({0, static_cast<std::int32_t>(0x1000 * length), Bytes(length, 0x3C), {}, {}});
  }
  ASSERT_TRUE(writeImageFile(directory.file("sysbin.bin"), buildImage(records)));
  // The second device hangs up at its first request, the others verify.
  RunningSimulator program(
      {"--devices", "3", "--paced", "--fault", "hangup:sync", "--fault-device", "2"});
  ASSERT_TRUE(program.started());
  std::vector<std::string> arguments{VOLTRIX_CLI_PATH};
  for (int i = 0; i < 3; ++i) {
    const std::string devicePath = program.readLine();
    ASSERT_EQ(devicePath.rfind("/dev/pts/", 0), 0u) << devicePath;
    arguments.insert(arguments.end(), {"--port", devicePath});
  }
  voltrix::test::ChildStreams streams;
  streams.workingDirectory = directory.path();
  const voltrix::test::ProcessResult station =
      voltrix::test::runProcess(arguments, {}, std::chrono::seconds(60), {}, streams);
  EXPECT_EQ(station.exitCode, 8) << station.out;

  const int status = program.endWith(SIGTERM);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(program.readLine(),
            "zetak-sim: device 1: end-of-run byte 'Z' (0x5A), 364 bytes written into memory");
  EXPECT_EQ(program.readLine(),
            "zetak-sim: device 2: no end-of-run byte, 0 bytes written into memory");
  EXPECT_EQ(program.readLine(),
            "zetak-sim: device 3: end-of-run byte 'Z' (0x5A), 364 bytes written into memory");
  EXPECT_NE(program.readLine().find("after their line time"), std::string::npos);
}

TEST(SimProgram, LinksEveryDeviceOfARigToAComNumberOfItsOwn) {
  voltrix::test::TempDir directory;
  RunningSimulator program({"--devices", "2", "--link-dir", directory.path(), "--com", "7"});
  ASSERT_TRUE(program.started());
  const std::string first = program.readLine();
  const std::string second = program.readLine();
  EXPECT_EQ(std::filesystem::read_symlink(directory.file("COM7")).string(), first);
  EXPECT_EQ(std::filesystem::read_symlink(directory.file("COM8")).string(), second);
  EXPECT_NE(first, second);
  const int status = program.endWith(SIGTERM);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_FALSE(std::filesystem::is_symlink(directory.file("COM7")));
  EXPECT_FALSE(std::filesystem::is_symlink(directory.file("COM8")));
}

TEST(SimProgram, RefusesAWrongCommandLine) {
  RunningSimulator program({"--fault", "explode:sync"});
  ASSERT_TRUE(program.started());
  EXPECT_EQ(program.readLine(1s), "");  // nothing on stdout: no device was made
  const int status = program.endWith(0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
}

}  // namespace
}  // namespace voltrix::sim::test

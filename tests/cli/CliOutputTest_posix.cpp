// What voltrix-cli prints where: results on standard output, the run and
// everything that explains it on standard error; failures named by kind and
// place; the protocol trace of -v.

#include <fcntl.h>
#include <sys/file.h>

#include <cctype>
#include <sstream>

#include "tests/cli/CliFixture_posix.h"
#include "tests/support/JsonReader.h"

namespace voltrix {
namespace {

using test::JsonReader;
using test::JsonValue;

using test::linesOf;

test::ChildStreams apart() {
  test::ChildStreams streams;
  streams.separateError = true;
  return streams;
}

class CliOutput : public CliDownload {
 protected:
  test::ProcessResult cliApart(std::vector<std::string> args) {
    args.insert(args.begin(), VOLTRIX_CLI);
    return runProcess(args, environment(), std::chrono::seconds(60), {}, apart());
  }
};

TEST_F(CliOutput, ResultsOnStandardOutputAndTheRunOnStandardError) {
  startDevice();
  auto normal = cliApart({});
  EXPECT_EQ(normal.exitCode, 0) << normal.out << normal.err;
  // The summary line alone is the result; the status texts are the run's.
  ASSERT_EQ(linesOf(normal.out).size(), 1u) << normal.out;
  EXPECT_EQ(normal.out.rfind("verified 3 segments, 165 bytes, on ", 0), 0u) << normal.out;
  EXPECT_TRUE(contains(normal.err, "Request for downloading, please wait...")) << normal.err;
  EXPECT_TRUE(contains(normal.err, "Update successfully!")) << normal.err;

  // A refusal: the JSON object alone on standard output, the system's text
  // and what to do on standard error.
  ASSERT_EQ(::unlink(dir.file("sysbin.bin").c_str()), 0);
  auto refused = cliApart({"--json"});
  EXPECT_EQ(refused.exitCode, 3);
  ASSERT_EQ(linesOf(refused.out).size(), 1u) << refused.out;
  const auto json = JsonReader::parse(linesOf(refused.out)[0]);
  ASSERT_TRUE(json) << refused.out;
  EXPECT_EQ((*json)["failure_kind"].text, "image_missing");
  EXPECT_TRUE(contains((*json)["hint"].text, "sysbin.bin was not found in")) << refused.out;
  EXPECT_TRUE(contains(refused.err, "System file can't be found")) << refused.err;
  EXPECT_TRUE(contains(refused.err, "sysbin.bin was not found in")) << refused.err;
}

struct FaultCase {
  const char* name;
  sim::FaultPlan fault;
  int exitCode;
  const char* failureKind;
  int segment;
  const char* address;  // of that segment
};

TEST_F(CliOutput, AFailureIsNamedByKindSegmentAndAddress) {
  using sim::FaultKind;
  using sim::SimStep;
  // Segment 1 is 100 bytes at 0xA400 (two blocks), segment 2 64 bytes at
  // 0x8000, segment 3 one byte at 0x4100.
  // clang-format off
  const FaultCase cases[] = {
      {"read-back",     {FaultKind::WrongByte, SimStep::DataRequest, 3, {}},  9, "read_back_mismatch", 2, "0x00008000"},
      {"refused block", {FaultKind::Refuse, SimStep::WriteData, 1, {}},       7, "block_refused",      1, "0x0000A400"},
      {"silent",        {FaultKind::Silence, SimStep::ReadHeader, 4, {}},     8, "device_silent",      3, "0x00004100"},
      {"unplugged",     {FaultKind::HangUp, SimStep::WriteCommand, 2, {}},    8, "port_gone",          1, "0x0000A400"},
  };
  // clang-format on
  for (const FaultCase& fault : cases) {
    SCOPED_TRACE(fault.name);
    ::unlink(dir.file("dosdevices/COM7").c_str());
    sim::SimConfig config;
    config.fault = fault.fault;
    startDevice(config);
    auto result = cliApart({"--json", "--reply-timeout", "0.5"});
    EXPECT_EQ(result.exitCode, fault.exitCode) << result.out << result.err;
    const auto json = JsonReader::parse(result.out);
    ASSERT_TRUE(json) << result.out;
    EXPECT_EQ((*json)["failure_kind"].text, fault.failureKind);
    EXPECT_EQ((*json)["failed_segment"].number, fault.segment);
    EXPECT_EQ((*json)["failed_address"].text, fault.address);
    // The folder of a failed run is kept, and named.
    EXPECT_TRUE(contains((*json)["run_folder"].text, "/voltrix-run-")) << result.out;
    // The old fields stay.
    EXPECT_EQ((*json)["result"].text, "failed");
    EXPECT_EQ((*json)["exit_code"].number, fault.exitCode);
  }
}

TEST_F(CliOutput, APortThatWillNotOpenIsNamedForWhy) {
  startDevice();
  const int holder = ::open(device->devicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  auto busy = cliApart({"--json", "--port", device->devicePath()});
  ::close(holder);
  EXPECT_EQ(busy.exitCode, 6) << busy.out;
  const auto json = JsonReader::parse(busy.out);
  ASSERT_TRUE(json) << busy.out;
  EXPECT_EQ((*json)["failure_kind"].text, "port_busy");
  EXPECT_FALSE((*json)["hint"].text.empty());

  ASSERT_EQ(::unlink(dir.file("serialcomm/VCP0").c_str()), 0);
  auto none = cliApart({"--json"});
  EXPECT_EQ(none.exitCode, 5);
  const auto noDevice = JsonReader::parse(none.out);
  ASSERT_TRUE(noDevice) << none.out;
  EXPECT_EQ((*noDevice)["failure_kind"].text, "no_device");
  EXPECT_EQ((*noDevice)["failed_segment"].kind, JsonValue::Kind::Null);
}

// "[    0.011211] -> 0A 08 01": seconds with six decimals, a direction, and
// one or more bytes in upper-case hexadecimal.
bool isTraceLine(const std::string& line) {
  const auto close = line.find("] ");
  if (line.empty() || line[0] != '[' || close == std::string::npos) return false;
  const std::string stamp = line.substr(1, close - 1);
  const auto dot = stamp.find('.');
  if (dot == std::string::npos || stamp.size() - dot - 1 != 6 || dot == 0 ||
      !std::isdigit(static_cast<unsigned char>(stamp[dot - 1]))) {
    return false;
  }
  for (std::size_t i = 0; i < stamp.size(); ++i) {
    const char c = stamp[i];
    if (i != dot && !std::isdigit(static_cast<unsigned char>(c)) && !(c == ' ' && i < dot)) {
      return false;
    }
  }
  const std::string rest = line.substr(close + 2);
  if (rest.rfind("-> ", 0) != 0 && rest.rfind("<- ", 0) != 0) return false;
  const std::string bytes = rest.substr(2);  // " XX XX ..."
  if (bytes.empty() || bytes.size() % 3 != 0) return false;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    if (bytes[i] != ' ' || !std::isxdigit(static_cast<unsigned char>(bytes[i + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(bytes[i + 2])) ||
        std::islower(static_cast<unsigned char>(bytes[i + 1])) ||
        std::islower(static_cast<unsigned char>(bytes[i + 2]))) {
      return false;
    }
  }
  return true;
}

TEST_F(CliOutput, VerboseTracesEveryExchangeOnStandardError) {
  startDevice();
  auto result = cliApart({"-v", "--quiet"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  // The results are untouched by the trace.
  ASSERT_EQ(linesOf(result.out).size(), 1u) << result.out;
  const auto lines = linesOf(result.err);
  ASSERT_FALSE(lines.empty());
  double last = 0;
  for (const std::string& line : lines) {
    ASSERT_TRUE(isTraceLine(line)) << line;
    const double stamp = std::stod(line.substr(1));
    EXPECT_GE(stamp, last) << line;
    last = stamp;
  }
  // It opens with the request to download ('S', 53) and its acceptance.
  EXPECT_TRUE(contains(lines[0], "-> 53")) << lines[0];
  EXPECT_TRUE(contains(lines[1], "<- ")) << lines[1];
  // and ends with the byte that says all is verified ('Z', 5A).
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                          [](const std::string& line) { return contains(line, "-> 5A"); }));
}

// A disk that fills while the record is written (the file size limit stands
// in for it): the log is left as it was, and the run says the record was not
// kept, on standard error, in its summary and in its exit status.
TEST_F(CliOutput, ARecordTheDiskCannotTakeIsAbsentAndSaidSo) {
  const std::string log = dir.file("station.jsonl");
  const std::string before =
      "{\"id\":\"earlier\",\"padding\":\"" + std::string(1900, 'x') + "\"}\n";
  struct Case {
    const char* name;
    std::vector<std::string> args;
  };
  startDevice();
  const Case cases[] = {{"one device", {"--port", device->devicePath()}},
                        {"a station", {"--port", device->devicePath(), "--port", "/dev/null"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::writeFileBytes(log, before);
    std::vector<std::string> args = {
        "/bin/sh",
        "-c",
        "trap '' XFSZ; exec prlimit --fsize=" + std::to_string(before.size() + 100) + " \"$@\"",
        "sh",
        VOLTRIX_CLI,
        "--json",
        "--log",
        log};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto result = runProcess(args, environment(), std::chrono::seconds(60), {}, apart());
    EXPECT_EQ(result.exitCode, 10) << result.out << result.err;
    EXPECT_EQ(test::readFileBytes(log), before);
    EXPECT_TRUE(contains(result.err, "could not be kept")) << result.err;
    const auto lines = linesOf(result.out);
    ASSERT_FALSE(lines.empty()) << result.out;
    const auto json = JsonReader::parse(lines[0]);
    ASSERT_TRUE(json) << result.out;
    EXPECT_EQ((*json)["port"].text, device->devicePath());
    EXPECT_EQ((*json)["result"].text, "verified");
    EXPECT_EQ((*json)["exit_code"].number, 10);
    EXPECT_EQ((*json)["log_record_kept"].kind, JsonValue::Kind::Bool) << lines[0];
    EXPECT_FALSE((*json)["log_record_kept"].truth) << lines[0];
  }
}

}  // namespace
}  // namespace voltrix

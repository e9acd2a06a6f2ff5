// The line that ends every run, as a factory script reads it.

#include "control/RunSummary.h"
#include "record/SummaryJson.h"
#include "tests/cli/CliFixture_posix.h"

namespace voltrix {
namespace {

std::string lastLine(const std::string& out) {
  const auto end = out.find_last_not_of('\n');
  if (end == std::string::npos) return {};
  const auto start = out.rfind('\n', end);
  return out.substr(start == std::string::npos ? 0 : start + 1, end - start);
}

// 100 + 64 + 1 bytes in three segments.
constexpr char kVerified[] = "verified 3 segments, 165 bytes, on ";

TEST_F(CliDownload, ARunEndsWithItsSummary) {
  startDevice();
  auto result = cli();
  ASSERT_EQ(result.exitCode, 0) << result.out;
  const std::string line = lastLine(result.out);
  EXPECT_EQ(line.rfind(kVerified + device->devicePath() + " in ", 0), 0u) << line;
  EXPECT_EQ(line.substr(line.size() - 2), " s") << line;

  auto quiet = cli({"--quiet"});
  EXPECT_EQ(quiet.exitCode, 0);
  EXPECT_EQ(quiet.out.find('\n'), quiet.out.size() - 1) << quiet.out;  // one line only
  EXPECT_EQ(quiet.out.rfind(kVerified, 0), 0u) << quiet.out;
}

TEST_F(CliDownload, AFailedRunNamesThePortAndWhatFailed) {
  sim::SimConfig config;
  // The third data block is the second segment's only one.
  config.fault = {sim::FaultKind::Silence, sim::SimStep::WriteData, 3};
  startDevice(config);
  auto result = cli({"--reply-timeout", "0.3"}, std::chrono::seconds(30));
  EXPECT_EQ(result.exitCode, 8) << result.out;
  EXPECT_EQ(lastLine(result.out)
                .rfind("failed on " + device->devicePath() +
                           ": the device does not answer, segment 2 at 0x00008000 (The device "
                           "does not answer!) (exit 8), 1 of 3 segments verified, 100 bytes, in ",
                       0),
            0u)
      << result.out;
}

TEST_F(CliDownload, JsonIsTheOnlyOutput) {
  startDevice();
  auto result = cli({"--json"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out.find('\n'), result.out.size() - 1) << result.out;
  EXPECT_EQ(result.out.rfind("{\"result\":\"verified\",\"exit_code\":0,\"port\":\"" +
                                 device->devicePath() +
                                 "\",\"segments\":3,\"segments_in_image\":3,\"bytes\":165,",
                             0),
            0u)
      << result.out;
  EXPECT_TRUE(contains(result.out, ",\"failure\":null,\"status\":\"Update successfully! TIME:"))
      << result.out;

  ::unlink(dir.file("sysbin.bin").c_str());
  auto refused = cli({"--json"});
  EXPECT_EQ(refused.exitCode, 3);
  EXPECT_TRUE(contains(refused.out, "\"result\":\"refused\",\"exit_code\":3,")) << refused.out;
  EXPECT_TRUE(contains(refused.out, "\"failure\":\"System file can't be found\"")) << refused.out;
}

TEST_F(CliDownload, BadReplyTimeoutsAreRefused) {
  for (const char* value : {"0", "abc", "-1", "3601", "nan"}) {
    auto result = cli({"--reply-timeout", value});
    EXPECT_EQ(result.exitCode, 2) << value;
    EXPECT_TRUE(contains(result.out, "--reply-timeout wants seconds above 0, at most 3600"))
        << value;
  }
}

TEST(RunSummaryJson, EscapesWhatJsonMustEscape) {
  RunSummary summary;
  summary.status = "ERROR:\"x\"\\ \n 文件名";
  EXPECT_TRUE(summaryJson(summary).find(R"("status":"ERROR:\"x\"\\ \u000a 文件名")") !=
              std::string::npos)
      << summaryJson(summary);
}

}  // namespace
}  // namespace voltrix

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "record/JsonText.h"
#include "record/TraceLog.h"
#include "tests/support/JsonReader.h"
#include "tests/support/TempDir.h"
#include "voltrix/Version.h"

namespace voltrix::cli {
namespace {

using test::JsonReader;
using test::JsonValue;

using test::linesOf;

std::chrono::system_clock::time_point at(int hour, int minute, int second, int millisecond) {
  using namespace std::chrono;
  return sys_days{year{2026} / December / 8} + hours(hour) + minutes(minute) + seconds(second) +
         milliseconds(millisecond);
}

AttemptRecord sampleRecord() {
  AttemptRecord record;
  record.station = "line-3";
  record.slot = "hub1-port4";
  record.port = "/dev/ttyACM0";
  record.imagePath = "/srv/firmware/sysbin.bin";
  record.imageSha256 = std::string(64, 'a');
  record.result = "ERROR:\"quoted\" back\\slash\nnew line\ttab\x01 错误：设备驱动未安装！";
  record.usb = {"0403:6001", "FT12 \"AB\"", "1-2.3"};
  record.started = at(16, 4, 5, 123);
  record.ended = at(16, 4, 7, 9);
  record.segments = 3;
  record.bytes = 165;
  record.seconds = 1.886;
  record.exitCode = 9;
  record.label = "left";
  record.failureKind = "read_back_mismatch";
  record.failedSegment = 2;
  record.failedAddress = "0x00014000";
  record.hint = "first\nsecond";
  record.runFolder = "/srv/line-3/voltrix-run-a1b2c3";
  return record;
}

class TraceLogTest : public ::testing::Test {
 protected:
  std::unique_ptr<TraceLog> openLog() {
    std::string error;
    auto log = TraceLog::open(path, error);
    EXPECT_TRUE(log) << error;
    return log;
  }
  std::vector<JsonValue> records() {
    std::vector<JsonValue> parsed;
    const std::string text = test::readFileBytes(path);
    EXPECT_TRUE(text.empty() || text.back() == '\n');
    for (const std::string& line : linesOf(text)) {
      const auto value = JsonReader::parse(line);
      EXPECT_TRUE(value) << "not a JSON line: " << line;
      if (value) parsed.push_back(*value);
    }
    return parsed;
  }

  test::TempDir dir;
  std::string path = dir.file("station.jsonl");
};

// xxxxxxxx-xxxx-4xxx-[89ab]xxx-xxxxxxxxxxxx in lowercase hex. (std::regex is
// avoided: GCC 12 warns falsely inside it at -O2 with the sanitizers.)
bool isUuidVersion4(const std::string& id) {
  if (id.size() != 36) return false;
  for (std::size_t i = 0; i < id.size(); ++i) {
    const char c = id[i];
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (c != '-') return false;
    } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
      return false;
    }
  }
  return id[14] == '4' && (id[19] == '8' || id[19] == '9' || id[19] == 'a' || id[19] == 'b');
}

TEST_F(TraceLogTest, RecordIsOneJsonLineWithEveryField) {
  const AttemptRecord record = sampleRecord();
  const TraceLog::Appended appended = openLog()->append(record);
  ASSERT_TRUE(appended.kept) << appended.error;
  // The caller is handed the very bytes of the line (and so its id).
  EXPECT_EQ(test::readFileBytes(path), appended.line + "\n");
  const auto lines = records();
  ASSERT_EQ(lines.size(), 1u);
  const JsonValue& line = lines[0];
  EXPECT_TRUE(isUuidVersion4(line["id"].text)) << line["id"].text;
  EXPECT_EQ(line["station"].text, "line-3");
  EXPECT_EQ(line["version"].text, kVoltrixVersion);
  EXPECT_EQ(line["start"].text, "2026-12-08T16:04:05.123Z");
  EXPECT_EQ(line["end"].text, "2026-12-08T16:04:07.009Z");
  EXPECT_EQ(line["slot"].text, "hub1-port4");
  EXPECT_EQ(line["port"].text, "/dev/ttyACM0");
  EXPECT_EQ(line["usb"]["vid_pid"].text, "0403:6001");
  EXPECT_EQ(line["usb"]["serial"].text, "FT12 \"AB\"");
  EXPECT_EQ(line["usb"]["path"].text, "1-2.3");
  EXPECT_EQ(line["image"]["path"].text, "/srv/firmware/sysbin.bin");
  EXPECT_EQ(line["image"]["sha256"].text, record.imageSha256);
  EXPECT_EQ(line["segments"].number, 3);
  EXPECT_EQ(line["bytes"].number, 165);
  EXPECT_DOUBLE_EQ(line["seconds"].number, 1.886);
  EXPECT_EQ(line["result"].text, record.result);  // every byte back, escaped on the way
  EXPECT_EQ(line["exit_code"].number, 9);
  EXPECT_EQ(line["label"].text, "left");
  EXPECT_EQ(line["failure_kind"].text, "read_back_mismatch");
  EXPECT_EQ(line["failed_segment"].number, 2);
  EXPECT_EQ(line["failed_address"].text, "0x00014000");
  EXPECT_EQ(line["hint"].text, "first\nsecond");
  EXPECT_EQ(line["run_folder"].text, record.runFolder);
}

TEST_F(TraceLogTest, UnknownFieldsAreNullAndBadBytesStayReadable) {
  AttemptRecord record;
  record.port = "/dev/tty\xff\xfe";  // a node name in no encoding
  record.result = "cut \xe9\x94";    // a UTF-8 sequence cut short
  record.seconds = std::numeric_limits<double>::quiet_NaN();
  ASSERT_TRUE(openLog()->append(record));
  const auto lines = records();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_FALSE(lines[0].has("usb"));
  for (const char* name : {"station", "start", "end", "slot", "seconds", "label", "failure_kind",
                           "failed_segment", "failed_address", "hint", "run_folder"}) {
    EXPECT_EQ(lines[0][name].kind, JsonValue::Kind::Null) << name;
  }
  EXPECT_EQ(lines[0]["image"]["sha256"].kind, JsonValue::Kind::Null);
  EXPECT_EQ(lines[0]["port"].text, "/dev/tty\uFFFD\uFFFD");
  EXPECT_EQ(lines[0]["result"].text, "cut \uFFFD\uFFFD");
  EXPECT_EQ(jsonString("\xed\xa0\x80"), "\"\uFFFD\uFFFD\uFFFD\"");  // no surrogates
  EXPECT_EQ(jsonString("\xf0\x9f\x98\x80"), "\"\xf0\x9f\x98\x80\"");
}

TEST_F(TraceLogTest, AppendsFromManyThreadsNeverInterleave) {
  auto log = openLog();
  constexpr int kThreads = 8;
  constexpr int kRecords = 100;
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      AttemptRecord record = sampleRecord();
      for (int i = 0; i < kRecords; ++i) {
        record.slot = "slot " + std::to_string(t);
        record.result = std::string(200 + i * 7, 'x') + "\n" + std::to_string(i);
        if (!log->append(record)) ++failures;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, 0);
  const auto lines = records();
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kRecords));
  std::set<std::string> ids;
  for (const JsonValue& line : lines) ids.insert(line["id"].text);
  EXPECT_EQ(ids.size(), lines.size());
}

TEST_F(TraceLogTest, ProcessKilledRightAfterAppendingKeepsEveryRecordWhole) {
  constexpr int kRecords = 40;
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    std::string error;
    auto log = TraceLog::open(path, error);
    bool all = log != nullptr;
    AttemptRecord record = sampleRecord();
    for (int i = 0; all && i < kRecords; ++i) {
      record.result = "record " + std::to_string(i);
      all = log->append(record).kept;
    }
    const char done = all ? 'y' : 'n';
    if (::write(ready[1], &done, 1) != 1) ::_exit(1);
    for (;;) ::pause();  // never leaves on its own: only SIGKILL ends it
  }
  ::close(ready[1]);
  pollfd wait{ready[0], POLLIN, 0};
  ASSERT_EQ(::poll(&wait, 1, 30000), 1) << "the child never finished appending";
  char done = 0;
  ASSERT_EQ(::read(ready[0], &done, 1), 1);
  ::close(ready[0]);
  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  EXPECT_EQ(done, 'y');
  const auto lines = records();
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kRecords));
  for (int i = 0; i < kRecords; ++i)
    EXPECT_EQ(lines[i]["result"].text, "record " + std::to_string(i));
}

TEST_F(TraceLogTest, ATornRecordNeverSpoilsTheNext) {
  // A line left torn by an earlier writer: the next record starts its own.
  test::writeFileBytes(path, "{\"id\":\"torn");
  auto log = openLog();
  ASSERT_TRUE(log->append(sampleRecord()));
  auto lines = linesOf(test::readFileBytes(path));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "{\"id\":\"torn");
  EXPECT_TRUE(JsonReader::parse(lines[1]));

  // A write the file system cuts short (the file size limit stands in for a
  // full disk) is reported and taken back whole: no torn line is left for a
  // strict reader to trip over, and nothing completes it later.
  rlimit previous{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
  const auto previousHandler = ::signal(SIGXFSZ, SIG_IGN);
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  rlimit limit = previous;
  limit.rlim_cur = static_cast<rlim_t>(info.st_size + 50);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  const TraceLog::Appended written = log->append(sampleRecord());
  ::setrlimit(RLIMIT_FSIZE, &previous);
  ::signal(SIGXFSZ, previousHandler);
  EXPECT_FALSE(written.kept);
  EXPECT_NE(written.error.find("only 50 of"), std::string::npos) << written.error;
  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_size, info.st_size);
  ASSERT_TRUE(log->append(sampleRecord()));
  lines = linesOf(test::readFileBytes(path));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(JsonReader::parse(lines[2]));
}

TEST_F(TraceLogTest, OnlyARegularFileIsALog) {
  const mode_t previous = ::umask(022);
  openLog();
  ::umask(previous);
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);

  std::string error;
  EXPECT_FALSE(TraceLog::open(dir.path(), error));
  EXPECT_NE(error.find(dir.path()), std::string::npos) << error;
  ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0644), 0);
  error.clear();
  EXPECT_FALSE(TraceLog::open(dir.file("pipe"), error));  // no reader: must not block either
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_FALSE(TraceLog::open(dir.file("no/such/folder.jsonl"), error));
  EXPECT_FALSE(error.empty());
}

TEST(TraceLogNames, StationDefaultsToTheHostName) {
  char name[256] = {};
  ASSERT_EQ(::gethostname(name, sizeof name - 1), 0);
  EXPECT_EQ(defaultStationName(), name);
  EXPECT_NE(newRecordId(), newRecordId());
}

}  // namespace
}  // namespace voltrix::cli

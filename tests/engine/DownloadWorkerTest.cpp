#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/DownloadWorker.h"
#include "engine/MessageQueue.h"
#include "engine/RunFailure.h"
#include "engine/SystemTexts.h"
#include "tests/support/MessagePrinting.h"
#include "tests/support/TempDir.h"

namespace voltrix {
namespace {

using test::fileExists;

// Stands in for the serial phases: writes the two files itself and records
// what the worker asked for and in which state.
class ScriptedLink : public LinkPhases {
 public:
  enum class ReadBack { Equal, Different, Missing };
  std::map<int, int> writeResult, readResult;  // by 1-based segment number
  std::map<int, ReadBack> readBack;
  std::vector<std::string> calls;
  std::vector<int> endOfRun;
  std::vector<BusyState> busyAtEndOfRun;

  // "W1:F_1_W_sysbin.bin", the file named without the run's folder.
  // Streamed rather than concatenated: GCC 12 at -O3 warns falsely about
  // overlapping copies in a chain of string additions.
  static std::string call(char kind, int segment, const std::string& file) {
    std::ostringstream text;
    text << kind << segment << ':' << std::filesystem::path(file).filename().string();
    return text.str();
  }

  int writeSegment(DownloadState& state, MessageSink& dialog,
                   const std::string& writeFile) override {
    const int n = state.cursor;
    // As the real phases do before each request: the run has reached the
    // device, so a failure keeps its folder.
    dialog.post(textMessage(UWM_WAIT, texts::kRequestDownloading));
    calls.push_back(call('W', n, writeFile));
    test::writeFileBytes(writeFile, std::string(state.currentLength, '\x0E'));
    return writeResult.count(n) ? writeResult[n] : 0;
  }
  int readBackSegment(DownloadState& state, MessageSink&, const std::string&,
                      const std::string& readFile) override {
    const int n = state.cursor;
    calls.push_back(call('R', n, readFile));
    switch (readBack.count(n) ? readBack[n] : ReadBack::Equal) {
      case ReadBack::Equal:
        test::writeFileBytes(readFile, std::string(state.currentLength, '\0'));
        break;
      case ReadBack::Different:
        test::writeFileBytes(readFile, std::string(state.currentLength, '\1'));
        break;
      case ReadBack::Missing:
        break;
    }
    return readResult.count(n) ? readResult[n] : 0;
  }
  int endOfRunResult = 0;
  int sendEndOfRun(DownloadState& state, MessageSink&, int success) override {
    endOfRun.push_back(success);
    busyAtEndOfRun.push_back(state.busy);
    return endOfRunResult;
  }
};

class Worker : public ::testing::Test {
 protected:
  // The worker's files go to the run's folder, here one in the test's.
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::create_directory(runFolder));
    state.runFolder = runFolder;
  }
  std::string inRun(const std::string& name) const { return runFolder + "/" + name; }
  void loadTable(std::initializer_list<std::pair<std::int32_t, std::int32_t>> segments) {
    int i = 0;
    for (auto [address, length] : segments) {
      state.segmentOffsets[i] = i * 100;
      state.segmentAddresses[i] = address;
      state.segmentLengths[i] = length;
      ++i;
    }
    state.segmentCount = i;
    state.cursor = 0;
    state.busy = BusyState::Downloading;
  }
  std::uint32_t run() { return DownloadWorker(state, queue, link); }
  // What the worker posted, without the link's request notes.
  std::vector<WorkerMessage> drained() {
    std::vector<WorkerMessage> posted = queue.drain();
    std::erase_if(posted, [](const WorkerMessage& m) { return m.id == UWM_WAIT; });
    return posted;
  }

  test::TempDir dir;
  const std::string runFolder = dir.file("run");
  DownloadState state;
  MessageQueue queue;
  ScriptedLink link;
};

TEST_F(Worker, OneVerifiedSegmentPostsItsEndAndSignalsSuccess) {
  loadTable({{0x1000, 40}});
  EXPECT_EQ(run(), 0u);
  EXPECT_EQ(drained(), (std::vector<WorkerMessage>{addressMessage(UWM_SEGMENT_OK, 0x1028, 40)}));
  EXPECT_FALSE(fileExists(inRun("F_1_W_sysbin.bin")));
  EXPECT_FALSE(fileExists(inRun("F_1_R_sysbin.bin")));
  EXPECT_EQ(link.endOfRun, std::vector<int>{1});
  EXPECT_EQ(link.busyAtEndOfRun, std::vector<BusyState>{BusyState::Idle});
  EXPECT_EQ(state.cursor, 1);
  EXPECT_STREQ(state.imageName, "sysbin.bin");
}

TEST_F(Worker, AVerifiedRunWhoseSignalCannotGoOutIsNoSuccess) {
  loadTable({{0x1000, 40}});
  link.endOfRunResult = 1;
  EXPECT_EQ(run(), 1u);
  EXPECT_EQ(link.endOfRun, std::vector<int>{1});
  EXPECT_EQ(state.cursor, 1);
}

TEST_F(Worker, ASecondSegmentFailingItsComparisonStopsTheRun) {
  loadTable({{0x10, 8}, {0x20, 8}, {0x30, 8}});
  link.readBack[2] = ScriptedLink::ReadBack::Different;
  EXPECT_EQ(run(), 1u);
  EXPECT_EQ(drained(), (std::vector<WorkerMessage>{addressMessage(UWM_SEGMENT_OK, 0x18, 8),
                                                   failureMessage(RunFailure::VerifyMismatch)}));
  EXPECT_FALSE(fileExists(inRun("F_1_W_sysbin.bin")));
  EXPECT_TRUE(fileExists(inRun("F_2_W_sysbin.bin")));
  EXPECT_TRUE(fileExists(inRun("F_2_R_sysbin.bin")));
  EXPECT_EQ(link.calls.size(), 4u);  // the third segment is never touched
  EXPECT_EQ(link.endOfRun, std::vector<int>{0});
  EXPECT_EQ(state.cursor, 2);
  EXPECT_EQ(state.busy, BusyState::Idle);
  EXPECT_EQ(state.currentAddress, 0x20u);
}

TEST_F(Worker, AMissingReadBackFileIsAFileError) {
  loadTable({{0x10, 8}});
  link.readBack[1] = ScriptedLink::ReadBack::Missing;
  EXPECT_EQ(run(), 1u);
  EXPECT_EQ(drained(), std::vector<WorkerMessage>{failureMessage(RunFailure::FileOpening)});
  EXPECT_EQ(link.endOfRun, std::vector<int>{0});
}

TEST_F(Worker, AFailedWriteOrReadBackEndsWithoutSignal) {
  loadTable({{0x10, 8}, {0x20, 8}});
  link.writeResult[1] = 1;
  EXPECT_EQ(run(), 1u);
  EXPECT_TRUE(drained().empty());
  EXPECT_EQ(link.calls, std::vector<std::string>{"W1:F_1_W_sysbin.bin"});
  EXPECT_TRUE(link.endOfRun.empty());
  EXPECT_EQ(state.busy, BusyState::Idle);

  loadTable({{0x10, 8}, {0x20, 8}});
  link.calls.clear();
  link.writeResult.clear();
  link.readResult[2] = 1;
  EXPECT_EQ(run(), 1u);
  EXPECT_EQ(link.calls.size(), 4u);
  EXPECT_EQ(drained().size(), 1u);  // only the first segment's success
  EXPECT_TRUE(link.endOfRun.empty());
  EXPECT_TRUE(fileExists(inRun("F_2_W_sysbin.bin")));
  EXPECT_EQ(state.busy, BusyState::Idle);
}

TEST_F(Worker, AnExhaustedCursorSignalsSuccessAtOnce) {
  loadTable({{0x10, 8}});
  state.cursor = 1;
  EXPECT_EQ(run(), 0u);
  EXPECT_TRUE(link.calls.empty());
  EXPECT_EQ(link.endOfRun, std::vector<int>{1});
}

TEST_F(Worker, NamesTheFilesOfEverySegment) {
  EXPECT_EQ(segmentFileName(12, "W", "sysbin.bin"), "F_12_W_sysbin.bin");
  EXPECT_EQ(segmentFileName(128, "R", "sysbin.bin"), "F_128_R_sysbin.bin");
  loadTable({{1, 1},
             {2, 1},
             {3, 1},
             {4, 1},
             {5, 1},
             {6, 1},
             {7, 1},
             {8, 1},
             {9, 1},
             {10, 1},
             {11, 1},
             {12, 1}});
  link.readBack[12] = ScriptedLink::ReadBack::Different;
  run();
  EXPECT_EQ(link.calls.back(), "R12:F_12_R_sysbin.bin");
  EXPECT_TRUE(fileExists(inRun("F_12_W_sysbin.bin")));
}

TEST_F(Worker, TheSegmentEndAddressWrapsAt32Bits) {
  loadTable({{-16, 32}});
  EXPECT_EQ(run(), 0u);
  EXPECT_EQ(drained(), std::vector<WorkerMessage>{addressMessage(UWM_SEGMENT_OK, 16, 32)});
}

}  // namespace
}  // namespace voltrix

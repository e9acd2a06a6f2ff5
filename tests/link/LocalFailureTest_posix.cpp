// A local failure in the middle of an exchange (the disk fills up while a
// segment is read back) must not leave the device in the middle of a block:
// the next run has to find it at its command state.

#include <signal.h>
#include <sys/resource.h>

#include "engine/RunFailure.h"
#include "tests/link/LinkFixture.h"

namespace voltrix::test {
namespace {

using namespace std::chrono_literals;

// While it lives, no file of this process may grow beyond `bytes`: a write
// past the limit fails with EFBIG as on a full disk (SIGXFSZ is ignored).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    previousHandler_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved_;
    limited.rlim_cur = bytes;
    applied_ = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, previousHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  bool applied() const { return applied_; }

 private:
  rlimit saved_{};
  sighandler_t previousHandler_ = SIG_DFL;
  bool applied_ = false;
};

// One segment of three read-back blocks: 64, 64 and 2 bytes.
const std::vector<ImageRecord> kRecords{{0, 0x5000, Bytes(130, 0x21), {}, {}}};

struct FullDisk {
  const char* name;
  rlim_t roomFor;  // bytes the read-back file may hold
};

void PrintTo(const FullDisk& point, std::ostream* out) {
  *out << point.name;
}

class DiskFullDuringReadBack : public LinkFixture,
                               public ::testing::WithParamInterface<FullDisk> {};

TEST_P(DiskFullDuringReadBack, LeavesTheDeviceReadyForTheNextRun) {
  timings.handshakeLimit = 3s;  // a device left mid-block must not stall the next run
  startDevice();
  loadImage(kRecords);
  selectSegment(0);
  ASSERT_EQ(link->writeSegment(state, queue, inRun("F_1_W_sysbin.bin")), 0);
  messages();
  int result = -1;
  {
    FileSizeLimit limit(GetParam().roomFor);
    ASSERT_TRUE(limit.applied());
    result =
        link->readBackSegment(state, queue, inRun("F_1_W_sysbin.bin"), inRun("F_1_R_sysbin.bin"));
  }
  EXPECT_EQ(result, 1);
  const auto posted = messages();
  ASSERT_FALSE(posted.empty());
  EXPECT_EQ(posted.back(), failureMessage(RunFailure::FileWrite));
  // The block under way was acknowledged, then the transfer dropped.
  const auto line = device->transcript();
  ASSERT_GE(line.size(), 6u);
  const std::vector<sim::TranscriptEntry> closing(line.end() - 6, line.end());
  EXPECT_EQ(closing, (std::vector<sim::TranscriptEntry>{{true, 0xAA},
                                                        {false, sim::kReadAckReply},
                                                        {true, 0x03},
                                                        {true, 0x45},
                                                        {true, 0x00},
                                                        {false, sim::kAbortReply}}));

  EXPECT_EQ(runWorker(), 0u) << ::testing::PrintToString(messages());
  EXPECT_EQ(device->endOfRunByte(), std::optional<std::uint8_t>(0x5A));
  expectDeviceHoldsImage(kRecords);
}

INSTANTIATE_TEST_SUITE_P(Blocks, DiskFullDuringReadBack,
                         ::testing::Values(FullDisk{"FirstBlock", 0}, FullDisk{"SecondBlock", 100},
                                           FullDisk{"LastBlock", 129}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace voltrix::test

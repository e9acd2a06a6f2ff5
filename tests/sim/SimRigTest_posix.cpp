// Many loaders in one rig: each takes a download from the real serial link on
// its own, paced answers keep to the line, and one device's fault stays its
// own.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>

#include <filesystem>
#include <thread>

#include "engine/DownloadState.h"
#include "engine/DownloadWorker.h"
#include "engine/ImageFileOps.h"
#include "engine/MessageQueue.h"
#include "engine/SystemTexts.h"
#include "link/SerialLinkPhases.h"
#include "sim/ImageBuilder.h"
#include "sim/SimulatorRig.h"
#include "tests/sim/RawHost.h"
#include "tests/support/TempDir.h"

namespace voltrix::sim::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Two segments at the same addresses on every device, with contents of the
// device's own: a device that took another's bytes shows it.
std::vector<ImageRecord> imageFor(std::size_t device) {
  std::vector<ImageRecord> records;
  std::uint32_t seed = 11 + static_cast<std::uint32_t>(device);
  std::int32_t address = 0x8000;
  for (const std::size_t length : {130 + 37 * device, std::size_t{64}}) {
    ImageRecord record{0, address, {}, {}, {}};
    for (std::size_t i = 0; i < length; ++i) {
      seed = seed * 1103515245u + 12345u;
      record.data.push_back(static_cast<std::uint8_t>(seed >> 16));
    }
    records.push_back(std::move(record));
    address += 0x1000;
  }
  return records;
}

// A whole run of the download worker over the real serial link; its result.
std::uint32_t downloadInto(const std::string& devicePath, const std::vector<ImageRecord>& records,
                           const std::string& folder) {
  std::filesystem::create_directories(folder);
  const std::string imagePath = folder + "/" + texts::kImageFileName;
  if (!writeImageFile(imagePath, buildImage(records))) return 100;
  DownloadState state;
  state.runFolder = folder;
  state.imageName = texts::kImageFileName;
  ImageFileOps ops;
  const int count = ops.loadSegmentTable(imagePath, state.segmentOffsets, state.segmentAddresses,
                                         state.segmentLengths);
  if (count < 0) return 101;
  state.segmentCount = count;
  state.cursor = 0;
  state.busy = BusyState::Downloading;
  SerialLinkPhases link(fixedDeviceResolver(devicePath));
  MessageQueue queue;
  return DownloadWorker(state, queue, link);
}

class RigDownload : public ::testing::TestWithParam<bool> {};

TEST_P(RigDownload, EveryDeviceHoldsItsOwnImageAfterDownloadsSideBySide) {
  constexpr std::size_t kDevices = 3;
  SimConfig config;
  config.paced = GetParam();
  SimulatorRig rig(std::vector<SimConfig>(kDevices, config));
  ASSERT_TRUE(rig.start());
  ASSERT_EQ(rig.size(), kDevices);
  voltrix::test::TempDir dir;
  std::vector<std::uint32_t> results(kDevices, 99);
  {
    std::vector<std::jthread> runs;
    for (std::size_t i = 0; i < kDevices; ++i) {
      runs.emplace_back([&, i] {
        results[i] = downloadInto(rig.devicePath(i), imageFor(i), dir.file(std::to_string(i)));
      });
    }
  }
  for (std::size_t i = 0; i < kDevices; ++i) {
    EXPECT_EQ(results[i], 0u) << "device " << i;
    std::size_t total = 0;
    for (const ImageRecord& record : imageFor(i)) {
      EXPECT_EQ(rig.memoryRange(i, static_cast<std::uint32_t>(record.loadAddress),
                                static_cast<std::uint32_t>(record.data.size())),
                record.data)
          << "device " << i << " at " << record.loadAddress;
      total += record.data.size();
    }
    EXPECT_EQ(rig.storedBytes(i), total);
    EXPECT_EQ(rig.memory(i).size(), total);
    EXPECT_EQ(rig.endOfRunByte(i), std::optional<std::uint8_t>(CMD_END_OK));
  }
  EXPECT_GT(rig.lateness().answers, 0u);
}

INSTANTIATE_TEST_SUITE_P(Lines, RigDownload, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Paced" : "AtOnce"; });

// The device side opened as a plain raw terminal, for a look at how an
// answer arrives: one read takes whatever is there.
class PlainLine {
 public:
  explicit PlainLine(const std::string& path)
      : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    termios settings{};
    if (fd_ && ::tcgetattr(fd_.get(), &settings) == 0) {
      ::cfmakeraw(&settings);
      ::tcsetattr(fd_.get(), TCSANOW, &settings);
    }
  }
  bool send(const Bytes& bytes) { return writeFully(fd_.get(), bytes.data(), bytes.size()); }
  Bytes readOnce(std::size_t atMost) {
    pollfd readable{fd_.get(), POLLIN, 0};
    if (::poll(&readable, 1, static_cast<int>(kPatience.count())) != 1) return {};
    Bytes bytes(atMost);
    const ssize_t got = ::read(fd_.get(), bytes.data(), bytes.size());
    bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return bytes;
  }

 private:
  FileDescriptor fd_;
};

SimConfig pacedAt(std::uint32_t baudRate) {
  SimConfig config;
  config.baudRate = baudRate;
  config.paced = true;
  return config;
}

// A lower bound only: a loaded machine may always be later, never earlier.
struct TimedAnswer {
  const char* name;
  SimConfig config;
  Bytes request;
  std::uint8_t answer;
  std::chrono::microseconds noEarlierThan;
};

TEST(RigPacing, AnAnswerNeverArrivesBeforeTheLineCouldCarryIt) {
  // At 9600 baud a byte takes 1041.7 us.
  SimConfig late;
  late.replyLatency = 80ms;
  Bytes strayThenSync(40, 0x00);
  strayThenSync.push_back(CMD_SYNC);
  const std::vector<TimedAnswer> cases = {
      {"sync and its answer cross the line", pacedAt(9600), {CMD_SYNC}, kAck, 2 * 1041us},
      {"stray bytes cross before the sync", pacedAt(9600), strayThenSync, kAck, 42 * 1041us},
      {"the reply latency comes first", late, {CMD_WRITE}, kWriteCommandReply, 80ms},
  };
  for (const TimedAnswer& timed : cases) {
    SimulatorRig rig({SimConfig{}, timed.config});
    ASSERT_TRUE(rig.start());
    PlainLine line(rig.devicePath(1));
    ASSERT_TRUE(line.send(timed.request));
    const Clock::time_point sent = Clock::now();
    EXPECT_EQ(line.readOnce(8), Bytes{timed.answer}) << timed.name;
    EXPECT_GE(Clock::now() - sent, timed.noEarlierThan) << timed.name;
  }
}

TEST(RigPacing, AReadBackBlockArrivesWholeOnceTheLineHasCarriedItsLastByte) {
  const SimConfig paced = pacedAt(9600);
  SimulatorRig rig({paced, paced});
  ASSERT_TRUE(rig.start());
  Bytes block(64);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 5 + 1);
  RawHost writer(rig.devicePath(1));
  EXPECT_EQ(writer.ask({CMD_SYNC}), kAck);
  EXPECT_EQ(writer.ask({CMD_WRITE}), kWriteCommandReply);
  EXPECT_EQ(writer.ask(writeHeaderFirst(0x2000, block)), kAck);
  EXPECT_EQ(writer.ask(block), kAck);
  EXPECT_EQ(writer.ask({CMD_READ}), kReadCommandReply);
  EXPECT_EQ(writer.ask(readHeaderFirst(0x2000, 64)), kAck);
  writer.close();

  PlainLine reader(rig.devicePath(1));
  ASSERT_TRUE(reader.send({DATA_REQUEST}));
  const Clock::time_point sent = Clock::now();
  // One read takes it all: the block was written in one piece.
  EXPECT_EQ(reader.readOnce(128), transformed(block));
  // The request crossing, then 64 bytes back.
  EXPECT_GE(Clock::now() - sent, 65 * 1041us);
}

TEST(RigFaults, AHungUpDeviceLeavesTheOthersServing) {
  SimConfig hangsUp;
  hangsUp.fault = {FaultKind::HangUp, SimStep::Sync, 1, 0ms};
  SimulatorRig rig({SimConfig{}, hangsUp, SimConfig{}});
  ASSERT_TRUE(rig.start());
  RawHost doomed(rig.devicePath(1));
  doomed.send({CMD_SYNC});
  EXPECT_TRUE(doomed.seesHangUp());
  EXPECT_TRUE(waitUntil([&] { return rig.hungUp(1); }));

  const Bytes block = {0x0E, 0x0D, 0x0C, 0x0B};
  for (const std::size_t device : {0u, 2u}) {
    RawHost host(rig.devicePath(device));
    EXPECT_EQ(host.ask({CMD_SYNC}), kAck);
    EXPECT_EQ(host.ask({CMD_WRITE}), kWriteCommandReply);
    EXPECT_EQ(host.ask(writeHeaderFirst(0x40, block)), kAck);
    EXPECT_EQ(host.ask(block), kAck);
    EXPECT_EQ(rig.memoryRange(device, 0x40, 4), transformed(block));
    EXPECT_FALSE(rig.hungUp(device));
  }
}

}  // namespace
}  // namespace voltrix::sim::test

#pragma once
// A simulated device on a pseudo-terminal, a download state pointing at it,
// and a queue that collects what the run posts.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/DownloadState.h"
#include "engine/DownloadWorker.h"
#include "engine/ImageFileOps.h"
#include "engine/MessageQueue.h"
#include "engine/SystemTexts.h"
#include "link/SerialLinkPhases.h"
#include "sim/ImageBuilder.h"
#include "sim/ZetakSimulator.h"
#include "tests/support/MessagePrinting.h"
#include "tests/support/TempDir.h"

namespace voltrix::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytesOf(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// Bytes whose transform is 0, 1, 2, ...: the write file then holds 0, 1, 2, ...
inline Bytes imageBytesSendingCount(std::uint32_t length) {
  Bytes out;
  for (std::uint32_t i = 0; i < length; ++i)
    out.push_back(transformByte(static_cast<std::uint8_t>(i)));
  return out;
}

class LinkFixture : public ::testing::Test {
 protected:
  // The run's folder, as DOWNLOAD gives one: the image and the segment files
  // are in it, and a verified run removes it.
  LinkFixture() { state.runFolder = runFolder; }
  std::string inRun(const std::string& name) const { return runFolder + "/" + name; }

  // Short bounds keep the failure cases quick; the handshake listens long
  // enough for the slowest simulated reply.
  static LinkTimings testTimings() {
    LinkTimings timings;
    timings.replyBound = std::chrono::milliseconds(700);
    return timings;
  }

  void startDevice(sim::SimConfig config = {}) {
    device = std::make_unique<sim::ZetakSimulator>(config);
    ASSERT_TRUE(device->start());
    link = std::make_unique<SerialLinkPhases>(fixedDeviceResolver(device->devicePath()), timings);
  }

  // Writes an image of the given records into the run's folder (made anew
  // after a run removed it) and loads its table into the state.
  void loadImage(const std::vector<ImageRecord>& records) {
    std::filesystem::create_directories(runFolder);
    state.runFolder = runFolder;
    image = buildImage(records);
    ASSERT_TRUE(writeImageFile(inRun(texts::kImageFileName), image));
    ImageFileOps ops;
    const auto count = ops.loadSegmentTable(inRun(texts::kImageFileName), state.segmentOffsets,
                                            state.segmentAddresses, state.segmentLengths);
    ASSERT_GE(count, 0);
    state.segmentCount = count;
    state.cursor = 0;
  }

  // Makes record `index` of the loaded image the current segment.
  void selectSegment(std::size_t index) {
    state.imageName = texts::kImageFileName;
    state.currentOffset = image.recordOffsets[index];
    state.currentAddress = static_cast<std::uint32_t>(state.segmentAddresses[index]);
    state.currentLength = static_cast<std::uint32_t>(state.segmentLengths[index]);
  }

  Bytes hostBytes() const { return device->bytesFromHost(); }
  std::uint32_t runWorker() {
    state.busy = BusyState::Downloading;
    return DownloadWorker(state, queue, *link);
  }
  static int countOf(const std::vector<WorkerMessage>& posted, std::uint32_t id) {
    int n = 0;
    for (const auto& m : posted) n += m.id == id;
    return n;
  }
  // Every counted segment is in the device exactly as the image holds it.
  void expectDeviceHoldsImage(const std::vector<ImageRecord>& records) {
    for (const ImageRecord& record : records) {
      if (record.skipFlag == SKIP_RECORD) continue;
      EXPECT_EQ(device->memoryRange(static_cast<std::uint32_t>(record.loadAddress),
                                    static_cast<std::uint32_t>(record.data.size())),
                record.data)
          << "segment at " << record.loadAddress;
    }
  }
  std::vector<WorkerMessage> messages() { return queue.drain(); }

  // What startDevice gives the link; a test may change them before.
  LinkTimings timings = testTimings();
  TempDir dir;
  const std::string runFolder = dir.file("run");
  DownloadState state;
  MessageQueue queue;
  std::unique_ptr<sim::ZetakSimulator> device;
  std::unique_ptr<SerialLinkPhases> link;
  BuiltImage image;
};

inline sim::SimConfig faultAt(sim::FaultKind kind, sim::SimStep step, int occurrence = 1) {
  sim::SimConfig config;
  config.fault.kind = kind;
  config.fault.step = step;
  config.fault.occurrence = occurrence;
  return config;
}

inline sim::SimConfig refusingSyncs(int count) {
  sim::SimConfig config;
  config.refuseSyncs = count;
  return config;
}

inline sim::SimConfig answeringLate(std::chrono::milliseconds latency) {
  sim::SimConfig config;
  config.replyLatency = latency;
  return config;
}

inline WorkerMessage waitMessage(const char* text) {
  return textMessage(UWM_WAIT, text);
}
inline WorkerMessage connected() {
  return textMessage(UWM_CONNECTED, texts::kConnectedSpace);
}

}  // namespace voltrix::test

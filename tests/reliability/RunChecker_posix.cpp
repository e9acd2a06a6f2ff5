#include "tests/reliability/RunChecker.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "engine/DownloadWorker.h"
#include "engine/ImageFileOps.h"
#include "engine/MessageQueue.h"
#include "engine/SystemTexts.h"
#include "link/SerialLinkPhases.h"
#include "sim/ImageBuilder.h"
#include "tests/support/MessagePrinting.h"
#include "tests/support/TempDir.h"

namespace voltrix::test {

namespace {

int countEntries(const char* directory) {
  DIR* dir = ::opendir(directory);
  if (dir == nullptr) return -1;
  int count = 0;
  while (::readdir(dir) != nullptr) ++count;
  ::closedir(dir);
  return count;
}

LinkTimings quickTimings() {
  LinkTimings timings;
  timings.replyBound = std::chrono::milliseconds(400);
  timings.handshakeLimit = std::chrono::milliseconds(800);
  return timings;
}

std::vector<ImageRecord> recordsFor(const RunCase& run) {
  std::vector<ImageRecord> records;
  std::uint32_t seed = run.seed;
  auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
  std::int32_t address = static_cast<std::int32_t>(next() % 0x100000);
  for (std::uint32_t length : run.lengths) {
    ImageRecord record{0, address, {}, {}, {}};
    for (std::uint32_t i = 0; i < length; ++i)
      record.data.push_back(static_cast<std::uint8_t>(next() >> 24));
    records.push_back(std::move(record));
    address += static_cast<std::int32_t>(length + 0x100);
  }
  return records;
}

}  // namespace

int openDescriptors() {
  return countEntries("/proc/self/fd");
}
int threadCount() {
  return countEntries("/proc/self/task");
}

long residentKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

std::string describe(const RunCase& run) {
  std::ostringstream out;
  out << faultName(run.fault.kind) << " at " << stepName(run.fault.step) << " #"
      << run.fault.occurrence << ", seed " << run.seed << ", lengths {";
  for (std::size_t i = 0; i < run.lengths.size(); ++i) out << (i ? "," : "") << run.lengths[i];
  out << "}";
  return out.str();
}

void runAndCheck(const RunCase& run, const std::string& folder, bool checkResources) {
  SCOPED_TRACE(describe(run));
  // As DOWNLOAD runs it: the image and the segment files in a folder of the
  // run's own, which a verified run (or one that sent nothing) removes.
  const std::string runFolder = folder + "/run";
  const auto inRun = [&](const std::string& name) { return runFolder + "/" + name; };
  ASSERT_TRUE(std::filesystem::create_directory(runFolder));
  const auto records = recordsFor(run);
  const BuiltImage image = buildImage(records);
  ASSERT_TRUE(writeImageFile(inRun(texts::kImageFileName), image));
  const std::string imageBefore = readFileBytes(inRun(texts::kImageFileName));

  const int descriptorsBefore = openDescriptors();
  const int threadsBefore = threadCount();
  sim::SimConfig config;
  config.fault = run.fault;
  auto devicePtr = std::make_unique<sim::ZetakSimulator>(config);
  sim::ZetakSimulator& device = *devicePtr;
  ASSERT_TRUE(device.start());

  DownloadState state;
  state.runFolder = runFolder;
  ImageFileOps ops;
  state.segmentCount = ops.loadSegmentTable(inRun(texts::kImageFileName), state.segmentOffsets,
                                            state.segmentAddresses, state.segmentLengths);
  ASSERT_EQ(state.segmentCount, static_cast<int>(run.lengths.size()));
  state.busy = BusyState::Downloading;
  MessageQueue queue;
  SerialLinkPhases link(fixedDeviceResolver(device.devicePath()), quickTimings());
  const std::uint32_t result = DownloadWorker(state, queue, link);

  const ExpectedEnding expected = expectedEnding(run.lengths, run.fault);
  const auto posted = queue.drain();
  std::vector<WorkerMessage> errors;
  for (const WorkerMessage& m : posted) {
    if (m.id == UWM_ERROR || m.id == UWM_PORT_FAIL) errors.push_back(m);
  }

  EXPECT_EQ(result, expected.verified ? 0u : 1u);
  EXPECT_EQ(state.busy, BusyState::Idle);
  if (expected.verified) {
    EXPECT_TRUE(errors.empty()) << ::testing::PrintToString(errors);
  } else {
    ASSERT_EQ(errors.size(), 1u) << ::testing::PrintToString(errors);
    EXPECT_EQ(errors[0], failureMessage(expected.error));
  }

  // The end-of-run byte goes out after a verified run or a failed
  // comparison, and never after a failed write or read-back.
  const auto endByte = device.endOfRunByte();
  if (expected.verified) {
    if (!(run.fault.step == sim::SimStep::EndOfRun && run.fault.kind == sim::FaultKind::HangUp)) {
      EXPECT_EQ(endByte, std::optional<std::uint8_t>('Z'));
    }
  } else if (expected.endOfRunSignal || expected.abortEndsAsFailSignal) {
    EXPECT_EQ(endByte, std::optional<std::uint8_t>('E'));
  } else {
    EXPECT_FALSE(endByte.has_value());
  }

  // Verified segments are in the device and their files are gone; the failing
  // segment's files stay; nothing after it was touched.
  const bool kept = fileExists(runFolder);
  const int verifiedSegments =
      expected.verified ? static_cast<int>(records.size()) : expected.failingSegment;
  for (int i = 0; i < static_cast<int>(records.size()); ++i) {
    const auto& record = records[i];
    const auto held = device.memoryRange(static_cast<std::uint32_t>(record.loadAddress),
                                         static_cast<std::uint32_t>(record.data.size()));
    const bool writeFile = fileExists(inRun(segmentFileName(i + 1, "W", texts::kImageFileName)));
    const bool readFile = fileExists(inRun(segmentFileName(i + 1, "R", texts::kImageFileName)));
    if (i < verifiedSegments) {
      EXPECT_EQ(held, record.data) << "segment " << i + 1 << " reported verified";
      EXPECT_FALSE(writeFile || readFile) << "segment " << i + 1;
    } else if (i == expected.failingSegment && kept) {
      EXPECT_TRUE(writeFile) << "segment " << i + 1;
      EXPECT_EQ(readFile, expected.failsInReadBack) << "segment " << i + 1;
      // Whatever reached the device came from the image.
      for (std::size_t b = 0; b < held.size(); ++b) {
        if (held[b] != sim::kUnwrittenMemory && held[b] != record.data[b]) {
          ADD_FAILURE() << "segment " << i + 1 << " byte " << b << " holds an undefined value";
          break;
        }
      }
    } else {
      EXPECT_FALSE(writeFile || readFile) << "segment " << i + 1 << " was touched";
    }
  }
  if (kept) {
    EXPECT_EQ(readFileBytes(inRun(texts::kImageFileName)), imageBefore);
  }

  // The port, its lock and its monitor are gone with the run.
  if (!device.hungUp()) {
    SerialPort port(fixedDeviceResolver(device.devicePath()));
    EXPECT_TRUE(port.Open(1, 57600)) << "the port is still held";
  }
  devicePtr.reset();
  if (checkResources) {
    EXPECT_EQ(openDescriptors(), descriptorsBefore);
    // A joined thread may still be listed for a moment while the kernel
    // finishes its exit.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (threadCount() > threadsBefore && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
    EXPECT_EQ(threadCount(), threadsBefore);
  }

  // Leave the folder clean for the next run.
  std::error_code ignored;
  std::filesystem::remove_all(runFolder, ignored);
}

}  // namespace voltrix::test

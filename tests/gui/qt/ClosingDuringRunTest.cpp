// The window closed in the middle of a real run, every way the operator or
// the system can close it: the run is cancelled at a block boundary, and
// before the program could end the worker has ended and the port is free.

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <QWindow>
#include <atomic>
#include <chrono>
#include <ostream>

#include "control/ThreadWorkerLauncher.h"
#include "engine/ImageFileOps.h"
#include "engine/SystemTexts.h"
#include "link/ProtocolConstants.h"
#include "port/SerialPort.h"
#include "sim/ImageBuilder.h"
#include "tests/gui/qt/AppDialogScript.h"
#include "tests/gui/qt/LoaderTranscript.h"
#include "tests/gui/qt/PluggedDevice.h"

namespace voltrix {
namespace {

using namespace std::chrono_literals;

constexpr auto kRunDeadline = 30s;
constexpr std::uint32_t kSegmentLength = 64 * BLOCK_SIZE;
constexpr int kBlockClosedIn = 4;

struct WorkerCount {
  std::atomic<int> started{0};
  std::atomic<int> ended{0};
};

// The program's launcher, counting the workers that have ended. It goes
// with the dialog; the count stays with the test.
class CountingLauncher final : public WorkerLauncher {
 public:
  explicit CountingLauncher(WorkerCount& count) : count_(count) {}

  bool launch(std::function<void()> work) override {
    WorkerCount& count = count_;
    const bool started = threads_.launch([&count, work = std::move(work)] {
      work();
      ++count.ended;
    });
    if (started) ++count_.started;
    return started;
  }

 private:
  WorkerCount& count_;
  ThreadWorkerLauncher threads_;
};

// One way of closing the window; the program's own requests to end come
// through `endRequested`.
struct Closing {
  const char* name;
  void (*close)(MainDialog& dialog, std::atomic<bool>& endRequested);
};

void PrintTo(const Closing& closing, std::ostream* out) {
  *out << closing.name;
}

const Closing kEveryWay[] = {
    {"Escape", [](MainDialog& dialog, auto&) { QTest::keyClick(&dialog, Qt::Key_Escape); }},
    {"Enter", [](MainDialog& dialog, auto&) { QTest::keyClick(&dialog, Qt::Key_Return); }},
    // What the close box and Alt+F4 ask of the window.
    {"CloseBox", [](MainDialog& dialog, auto&) { dialog.windowHandle()->close(); }},
    {"Done", [](MainDialog& dialog, auto&) { dialog.done(QDialog::Rejected); }},
    {"TerminationRequest", [](MainDialog&, auto& endRequested) { endRequested = true; }},
};

class ClosingDuringARun : public test::PluggedDeviceTest,
                          public ::testing::WithParamInterface<Closing> {
 protected:
  WorkerCount workers;
  std::atomic<bool> endRequested{false};
};

TEST_P(ClosingDuringARun, CancelsAtABlockBoundaryAndEndsTheWorkerBeforeTheProgram) {
  // The device answers one block's header late (though well within what a
  // closing run still waits for), so the window closes while that block is
  // under way, however fast the machine.
  sim::SimConfig config;
  config.fault = {sim::FaultKind::LateReply, sim::SimStep::WriteHeader, kBlockClosedIn, 150ms};
  plugIn(config);
  ImageRecord record;
  record.loadAddress = 0x20000;
  record.data.assign(kSegmentLength, 0x3C);
  ASSERT_TRUE(writeImageFile(dir.file(texts::kImageFileName), buildImage({record})));

  DownloadSeams seams = programSeams(std::make_unique<CountingLauncher>(workers));
  seams.endRequested = [this] { return endRequested.load(); };
  std::size_t heardBeforeTheCancel = 0;
  test::runDialogScript(
      std::move(seams),
      [&](MainDialog& dialog) {
        // Emitted once done() has raised the cancel.
        QObject::connect(&dialog, &QDialog::finished, &dialog,
                         [&] { heardBeforeTheCancel = device->transcript().size(); });
        QTest::mouseClick(dialog.downloadButton(), Qt::LeftButton);
        ASSERT_TRUE(test::processEventsUntil(
            [&] {
              const test::TranscriptReading sofar = test::readTranscript(device->transcript(), 0);
              return sofar.blockWritesBegun == kBlockClosedIn && sofar.awaitingAnswer;
            },
            kRunDeadline));
        GetParam().close(dialog, endRequested);
        EXPECT_TRUE(test::processEventsUntil([&] { return !dialog.isVisible(); }));
      },
      2 * kRunDeadline);

  EXPECT_EQ(workers.started, 1);
  EXPECT_EQ(workers.ended, 1);
  EXPECT_EQ(test::app().state().busy, BusyState::Idle);
  SerialPort port(fixedDeviceResolver(device->devicePath()));
  EXPECT_TRUE(port.Open(7, 57600));

  const test::TranscriptReading reading =
      test::readTranscript(device->transcript(), heardBeforeTheCancel);
  EXPECT_TRUE(reading.atCommandState);
  // At most an exchange already on its way when the cancel came.
  EXPECT_LE(reading.exchangesBegunFrom, 1);
  EXPECT_LT(device->memory().size(), kSegmentLength);
}

INSTANTIATE_TEST_SUITE_P(EveryWay, ClosingDuringARun, ::testing::ValuesIn(kEveryWay),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace voltrix

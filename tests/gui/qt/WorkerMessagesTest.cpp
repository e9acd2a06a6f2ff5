#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "engine/SystemTexts.h"
#include "gui/qt/MainDialog.h"
#include "gui/qt/QtMessageSink.h"
#include "tests/gui/qt/QtTestSupport.h"

namespace voltrix {
namespace {

struct Shown {
  quint32 id;
  QString status;
  int progress;
  friend bool operator==(const Shown&, const Shown&) = default;
};

void PrintTo(const Shown& shown, std::ostream* out) {
  *out << shown.id << " \"" << shown.status.toStdString() << "\" " << shown.progress;
}

class WorkerMessagesTest : public ::testing::Test {
 protected:
  WorkerMessagesTest() { watch(*dialog); }

  void watch(MainDialog& watched) {
    QObject::connect(
        &watched, &MainDialog::workerMessageApplied, &watched, [this, &watched](quint32 id) {
          shown.push_back(Shown{id, watched.statusLabel()->text(), watched.progressBar()->value()});
        });
  }

  bool waitForShown(std::size_t count) {
    return test::processEventsUntil([&] { return shown.size() >= count; });
  }

  DownloadState state;
  std::unique_ptr<MainDialog> dialog = std::make_unique<MainDialog>(state);
  std::vector<Shown> shown;
};

TEST_F(WorkerMessagesTest, MessagesFromTheWorkerThreadAreShownInPostingOrder) {
  state.imageName = texts::kImageFileName;
  state.currentAddress = 0x1000;
  std::shared_ptr<MessageSink> sink = dialog->sink();
  std::thread worker([sink] {
    sink->post(textMessage(UWM_WAIT, texts::kRequestDownloading));
    sink->post(textMessage(UWM_CONNECTED, texts::kConnectedSpace));
    sink->post(addressMessage(UWM_WRITE_PROGRESS, 0x1000, 1024));
    sink->post(addressMessage(UWM_WRITE_PROGRESS, 0x1000 + 512, 1024));
    sink->post(addressMessage(UWM_WRITE_DONE, 0x1000 + 1024, 1024));
    sink->post(textMessage(UWM_WAIT, texts::kRequestVerifying));
    sink->post(textMessage(UWM_ERROR, texts::kIncorrectVerify));
    sink->post(textMessage(UWM_PORT_FAIL, texts::kFailToOpenCom));
  });
  worker.join();
  ASSERT_TRUE(waitForShown(8));
  const std::vector<Shown> expected = {
      {UWM_WAIT, "Request for downloading, please wait...", 10},
      {UWM_CONNECTED, "Connect successfully!", 0},
      {UWM_WRITE_PROGRESS, "Time00:00", 0},
      {UWM_WRITE_PROGRESS, "Time00:00", 50},
      {UWM_WRITE_DONE, "Time00:00", 100},
      {UWM_WAIT, "Request for verifying, please wait...", 0},
      {UWM_ERROR, "ERROR:Incorrect in verifying the read-write data!!  文件名[sysbin.bin]", 0},
      {UWM_PORT_FAIL, "Fail to open the COM!", 0},
  };
  // The clock may tick between connect and progress; compare the rest exactly.
  for (Shown& s : shown) {
    if (s.status.startsWith("Time")) s.status = "Time00:00";
  }
  EXPECT_EQ(shown, expected);
  EXPECT_EQ(dialog->statusLabel()->text(), "Fail to open the COM!");
}

TEST_F(WorkerMessagesTest, AStreamOfMessagesKeepsItsOrder) {
  static const char* const kTexts[] = {texts::kRequestDownloading, texts::kRequestVerifying,
                                       texts::kFailToOpenCom};
  constexpr int kCount = 600;
  std::shared_ptr<MessageSink> sink = dialog->sink();
  std::thread worker([sink] {
    for (int i = 0; i < kCount; ++i) sink->post(textMessage(UWM_WAIT, kTexts[i % 3]));
  });
  const bool all = waitForShown(kCount);
  worker.join();
  ASSERT_TRUE(all);
  for (int i = 0; i < kCount; ++i) {
    ASSERT_EQ(shown[i].status, QString::fromUtf8(kTexts[i % 3])) << "message " << i;
    ASSERT_EQ(shown[i].progress, (i + 1) % 11 * 10) << "message " << i;
  }
}

// A receiver that logs what arrives, to see the sink itself; the log may
// outlive it.
class CountingReceiver : public QObject {
 public:
  explicit CountingReceiver(std::vector<WorkerMessage>& log) : received(log) {}
  bool event(QEvent* event) override {
    if (WorkerMessageEvent::isWorkerMessage(*event)) {
      received.push_back(static_cast<WorkerMessageEvent*>(event)->message());
      return true;
    }
    return QObject::event(event);
  }
  std::vector<WorkerMessage>& received;
};

// Anything still to be delivered, to whichever object, is delivered by this.
void deliverEverythingQueued() {
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
}

TEST(QtMessageSinkTest, EventsCarryTheMessageAndStopAfterDetach) {
  std::vector<WorkerMessage> received;
  CountingReceiver receiver(received);
  QtMessageSink sink(&receiver);
  sink.post(addressMessage(UWM_VERIFY_PROGRESS, 0x200, 0x400));
  ASSERT_TRUE(test::processEventsUntil([&] { return received.size() == 1; }));
  EXPECT_EQ(received[0], addressMessage(UWM_VERIFY_PROGRESS, 0x200, 0x400));

  sink.post(textMessage(UWM_WAIT, texts::kRequestVerifying));
  sink.detach();
  std::thread([&sink] { sink.post(textMessage(UWM_WAIT, texts::kRequestDownloading)); }).join();
  deliverEverythingQueued();
  EXPECT_EQ(received.size(), 1u);
}

TEST(QtMessageSinkTest, ADeliveryStillQueuedWhenTheSinkGoesBringsNothing) {
  std::vector<WorkerMessage> received;
  CountingReceiver receiver(received);
  {
    QtMessageSink sink(&receiver);
    std::thread([&sink] { sink.post(textMessage(UWM_WAIT, texts::kRequestDownloading)); }).join();
  }
  deliverEverythingQueued();
  EXPECT_TRUE(received.empty());
}

// Any receiver may go without detaching; the worker posts on regardless.
TEST(QtMessageSinkTest, PostsAfterTheReceiverIsGoneAreDropped) {
  std::vector<WorkerMessage> received;
  auto receiver = std::make_unique<CountingReceiver>(received);
  auto sink = std::make_shared<QtMessageSink>(receiver.get());
  sink->post(textMessage(UWM_WAIT, texts::kRequestDownloading));
  ASSERT_TRUE(test::processEventsUntil([&] { return received.size() == 1; }));
  receiver.reset();
  std::thread worker([sink] {
    for (int i = 0; i < 100; ++i) sink->post(addressMessage(UWM_WRITE_PROGRESS, 0, 64));
  });
  worker.join();
  deliverEverythingQueued();
  EXPECT_EQ(received.size(), 1u);
}

TEST_F(WorkerMessagesTest, PostingAfterTheDialogIsGoneIsHarmless) {
  std::shared_ptr<MessageSink> sink = dialog->sink();
  // Some messages are still queued when the dialog goes away.
  sink->post(textMessage(UWM_WAIT, texts::kRequestDownloading));
  sink->post(textMessage(UWM_CONNECTED, texts::kConnectedSpace));
  dialog.reset();
  std::thread worker([sink] {
    for (int i = 0; i < 100; ++i) sink->post(addressMessage(UWM_WRITE_PROGRESS, 0, 64));
  });
  worker.join();
  deliverEverythingQueued();
  EXPECT_TRUE(shown.empty());
}

TEST_F(WorkerMessagesTest, DestroyingTheDialogWhileTheWorkerPostsIsSafe) {
  std::shared_ptr<MessageSink> sink = dialog->sink();
  std::atomic<bool> stop{false};
  std::thread worker([sink, &stop] {
    while (!stop) sink->post(textMessage(UWM_WAIT, texts::kRequestDownloading));
  });
  ASSERT_TRUE(waitForShown(1));
  dialog.reset();
  stop = true;
  worker.join();
  const std::size_t before = shown.size();
  deliverEverythingQueued();
  EXPECT_EQ(shown.size(), before);
}

// The worker stands in for a run: it posts until it is asked to stop.
TEST_F(WorkerMessagesTest, ClosingDuringARunStopsItAndHearsNoMore) {
  std::shared_ptr<MessageSink> sink = dialog->sink();
  std::atomic<long> posted{0};
  std::thread worker([sink, &posted, this] {
    while (!state.cancelRequested && posted < 1'000'000) {
      sink->post(textMessage(UWM_WAIT, texts::kRequestDownloading));
      ++posted;
    }
  });
  QObject::connect(
      dialog.get(), &MainDialog::workerMessageApplied, dialog.get(), [this] { dialog->close(); },
      Qt::SingleShotConnection);
  QTimer::singleShot(test::kUiDeadline.count(), dialog.get(), [this] { dialog->done(-1); });
  const int result = dialog->exec();
  EXPECT_EQ(result, QDialog::Rejected);
  EXPECT_TRUE(state.cancelRequested);
  worker.join();
  EXPECT_LT(posted, 1'000'000);

  // What was queued before the close may still be shown; nothing after it.
  deliverEverythingQueued();
  const std::size_t before = shown.size();
  sink->post(textMessage(UWM_PORT_FAIL, texts::kFailToOpenCom));
  deliverEverythingQueued();
  EXPECT_EQ(shown.size(), before);
  EXPECT_NE(dialog->statusLabel()->text(), "Fail to open the COM!");
}

}  // namespace
}  // namespace voltrix

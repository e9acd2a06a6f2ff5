// The dialog's message sink on a real (message-only) window: what the worker
// posts arrives whole and in order on the window's thread, and nothing
// arrives once the dialog has detached.

#include <gtest/gtest.h>
#include <windows.h>

#include <thread>
#include <vector>

#include "engine/RunFailure.h"
#include "gui/win32/WindowMessageSink_win32.h"

namespace voltrix {
namespace {

class MessageWindow {
 public:
  MessageWindow()
      : window_(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr)) {}
  ~MessageWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
  }
  HWND get() const { return window_; }

  // Every worker message waiting for the window, in arrival order.
  std::vector<WorkerMessage> receive() const {
    std::vector<WorkerMessage> received;
    MSG message;
    while (PeekMessageW(&message, window_, kFirstWorkerMessage, kLastWorkerMessage, PM_REMOVE)) {
      received.push_back(
          WindowMessageSink::decode(message.message, message.wParam, message.lParam));
    }
    return received;
  }

 private:
  HWND window_;
};

TEST(WindowMessageSinkTest, TextAndAddressMessagesArriveWholeAndInOrder) {
  MessageWindow window;
  ASSERT_NE(window.get(), nullptr);
  WindowMessageSink sink(window.get());
  const std::vector<WorkerMessage> sent = {
      textMessage(UWM_WAIT, "Wait for connecting..."),
      textMessage(UWM_CONNECTED, nullptr),
      addressMessage(UWM_WRITE_PROGRESS, 0xFFFFFFC0u, 0x00012345u),
      failureMessage(RunFailure::VerifyMismatch),
      addressMessage(UWM_VERIFY_DONE, 0, 0),
  };
  // Posted from another thread, as the worker does.
  std::thread worker([&] {
    for (const WorkerMessage& message : sent) sink.post(message);
  });
  worker.join();
  EXPECT_EQ(window.receive(), sent);
}

TEST(WindowMessageSinkTest, NothingArrivesOnceDetached) {
  MessageWindow window;
  ASSERT_NE(window.get(), nullptr);
  WindowMessageSink sink(window.get());
  sink.post(addressMessage(UWM_SEGMENT_OK, 1, 2));
  sink.detach();
  sink.post(addressMessage(UWM_SEGMENT_OK, 3, 4));
  const std::vector<WorkerMessage> received = window.receive();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].wParam, 1u);
}

TEST(WindowMessageSinkTest, OnlyTheWorkersNumbersAreWorkerMessages) {
  EXPECT_FALSE(WindowMessageSink::isWorkerMessage(1723));
  EXPECT_TRUE(WindowMessageSink::isWorkerMessage(UWM_ERROR));
  EXPECT_TRUE(WindowMessageSink::isWorkerMessage(UWM_WRITE_DONE));
  EXPECT_FALSE(WindowMessageSink::isWorkerMessage(1734));
  EXPECT_FALSE(WindowMessageSink::isWorkerMessage(WM_PAINT));
}

}  // namespace
}  // namespace voltrix

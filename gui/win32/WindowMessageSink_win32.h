#pragma once
// Carries worker messages to the dialog's window as posted window messages
// with the worker's own numbers (1724..1733), so that they are handled on the
// dialog's thread in posting order. The worker may outlive the window: once
// the dialog has detached the sink, posts are dropped.

#include <windows.h>

#include <mutex>

#include "engine/WorkerMessages.h"

namespace voltrix {

class WindowMessageSink final : public MessageSink {
 public:
  explicit WindowMessageSink(HWND window) : window_(window) {}

  // Any thread; never waits for the dialog.
  void post(const WorkerMessage& message) noexcept override;
  // On the dialog's thread while its window still exists.
  void detach();

  static bool isWorkerMessage(UINT id);
  // The worker message a posted window message carries.
  static WorkerMessage decode(UINT id, WPARAM wParam, LPARAM lParam);

 private:
  std::mutex mutex_;
  HWND window_;
};

}  // namespace voltrix

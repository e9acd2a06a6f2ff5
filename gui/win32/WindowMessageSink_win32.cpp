#include "gui/win32/WindowMessageSink_win32.h"

#include <cstdint>

#include "engine/RunFailure.h"

namespace voltrix {

namespace {

// wParam carries the text pointer of a text message (string constants that
// live as long as the program) or the device address; lParam the segment
// length in its low 32 bits, the failure kind above them and a mark telling
// a text message from an address message.
constexpr int kFailureShift = 32;
constexpr int kTextMarkShift = 40;

}  // namespace

void WindowMessageSink::post(const WorkerMessage& message) noexcept {
  const bool hasText = message.text != nullptr;
  const WPARAM wParam = hasText ? reinterpret_cast<WPARAM>(message.text) : WPARAM{message.wParam};
  const auto lParam = static_cast<LPARAM>(
      std::uint64_t{message.lParam} |
      (std::uint64_t{static_cast<std::uint8_t>(message.failure)} << kFailureShift) |
      (std::uint64_t{hasText} << kTextMarkShift));
  std::lock_guard lock(mutex_);
  if (window_ != nullptr) PostMessageW(window_, message.id, wParam, lParam);
}

void WindowMessageSink::detach() {
  std::lock_guard lock(mutex_);
  window_ = nullptr;
}

bool WindowMessageSink::isWorkerMessage(UINT id) {
  return id >= kFirstWorkerMessage && id <= kLastWorkerMessage;
}

WorkerMessage WindowMessageSink::decode(UINT id, WPARAM wParam, LPARAM lParam) {
  const auto packed = static_cast<std::uint64_t>(lParam);
  WorkerMessage message;
  message.id = id;
  message.lParam = static_cast<std::uint32_t>(packed);
  message.failure = static_cast<RunFailure>(static_cast<std::uint8_t>(packed >> kFailureShift));
  if (((packed >> kTextMarkShift) & 1U) != 0) {
    message.text = reinterpret_cast<const char*>(wParam);
  } else {
    message.wParam = static_cast<std::uint32_t>(wParam);
  }
  return message;
}

}  // namespace voltrix

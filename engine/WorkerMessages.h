#pragma once
// The engine's only channel to a front end: small posted messages, numbered as
// the dialog has always known them. A front end implements MessageSink; the
// worker and the protocol phases post to it and never wait for it.

#include <cstdint>

namespace voltrix {

enum class RunFailure : std::uint8_t;

enum WorkerMessageId : std::uint32_t {
  UWM_ERROR = 1724,
  UWM_PORT_FAIL = 1725,
  // 1726 is left free: nothing posts it.
  UWM_WAIT = 1727,
  UWM_CONNECTED = 1728,
  UWM_WRITE_PROGRESS = 1729,
  UWM_SEGMENT_OK = 1730,
  UWM_VERIFY_PROGRESS = 1731,
  UWM_VERIFY_DONE = 1732,
  UWM_WRITE_DONE = 1733,
};

constexpr std::uint32_t kFirstWorkerMessage = 1724;
constexpr std::uint32_t kLastWorkerMessage = 1733;

// One posted message. Text-carrying messages (1724, 1725, 1727, 1728) carry a
// pointer to a string constant that lives for the whole program in `text`;
// the others carry a device address in `wParam` and the segment length in
// `lParam`. The two failure messages (1724, 1725) also say what failed, in
// `failure` (see RunFailure.h); they are made by failureMessage().
struct WorkerMessage {
  std::uint32_t id = 0;
  std::uint32_t wParam = 0;
  std::uint32_t lParam = 0;
  const char* text = nullptr;
  RunFailure failure{};

  friend bool operator==(const WorkerMessage&, const WorkerMessage&) = default;
};

inline WorkerMessage textMessage(std::uint32_t id, const char* text) {
  return WorkerMessage{id, 0, 0, text};
}
inline WorkerMessage addressMessage(std::uint32_t id, std::uint32_t address, std::uint32_t length) {
  return WorkerMessage{id, address, length, nullptr};
}

// Posting must return at once, keep the order of posting, and do nothing
// harmful once the receiver has gone away.
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void post(const WorkerMessage& message) noexcept = 0;
};

// Convenience wrapper kept under the name the protocol code has always used.
inline void PostToDialog(MessageSink& dialog, const WorkerMessage& message) noexcept {
  dialog.post(message);
}

}  // namespace voltrix

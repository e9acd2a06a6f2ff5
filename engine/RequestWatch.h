#pragma once
// Passes a run's messages on and notes whether any request went out to the
// device: the phases post "Request for downloading" just before every 'S'
// they send, so a run without one never reached the device.

#include <atomic>

#include "engine/WorkerMessages.h"

namespace voltrix {

class RequestWatch final : public MessageSink {
 public:
  explicit RequestWatch(MessageSink& front) : front_(front) {}
  void post(const WorkerMessage& message) noexcept override {
    if (message.id == UWM_WAIT) requested_ = true;
    front_.post(message);
  }
  bool anythingSent() const { return requested_; }

 private:
  MessageSink& front_;
  std::atomic<bool> requested_{false};
};

}  // namespace voltrix

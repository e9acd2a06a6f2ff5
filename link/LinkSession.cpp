#include "link/LinkSession.h"

#include <algorithm>
#include <thread>

namespace voltrix {

void OpenFailureRecord::record(PortOpenFailure failure) {
  std::lock_guard lock(mutex_);
  last_ = std::move(failure);
}

PortOpenFailure OpenFailureRecord::last() const {
  std::lock_guard lock(mutex_);
  return last_;
}

OpenFailure OpenFailureRecord::failure() const {
  std::lock_guard lock(mutex_);
  return last_.kind;
}

void OpenFailureRecord::clear() {
  record({});
}

void RecentReplyLatency::observe(std::chrono::steady_clock::duration latency) {
  std::lock_guard lock(mutex_);
  samples_[next_] = latency;
  next_ = (next_ + 1) % samples_.size();
}

std::chrono::steady_clock::duration RecentReplyLatency::longest() const {
  std::lock_guard lock(mutex_);
  return *std::max_element(samples_.begin(), samples_.end());
}

void PinnedDevice::forget() {
  std::lock_guard lock(mutex_);
  pinned_.clear();
}

bool PinnedDevice::admit(const std::string& identity) {
  std::lock_guard lock(mutex_);
  if (identity.empty()) return true;
  if (pinned_.empty()) pinned_ = identity;
  return identity == pinned_;
}

LinkSession::LinkSession(DownloadState& state, MessageSink& dialog, const LinkContext& context)
    : state_(state),
      dialog_(dialog),
      context_(context),
      port_(context.resolver),
      latency_(context.replyLatency ? *context.replyLatency : ownLatency_) {
  port_.SetCancelFlag(&state_.cancelRequested);
}

bool LinkSession::open() {
  const auto port = static_cast<std::uint32_t>(state_.comPort.load());
  const auto baud = static_cast<std::uint32_t>(state_.baudRate.load());
  if (port_.Open(port, baud)) {
    if (!context_.pinnedDevice || context_.pinnedDevice->admit(port_.DeviceIdentity())) {
      return true;
    }
    port_.Close();
    postFailure(RunFailure::PortGone);
    return false;
  }
  if (context_.openFailures) {
    context_.openFailures->record(port_.LastOpenFailure());
  }
  PostToDialog(dialog_, failureMessage(RunFailure::PortOpen));
  return false;
}

void LinkSession::send(const std::uint8_t* bytes, std::uint32_t length) {
  // Half a header would leave the device waiting for the rest of it.
  port_.SetCancelFlag(nullptr);
  port_.Write(bytes, length);
  if (context_.trace) context_.trace->sent(bytes, length);
  if (!closing_) port_.SetCancelFlag(&state_.cancelRequested);
  sentAt_ = Clock::now();
}

ReplyStatus LinkSession::awaitReply(std::uint8_t& reply) {
  const WaitResult result = waitForReply(reply);
  if (result == WaitResult::Byte) return ReplyStatus::Received;
  postWaitFailure(result);
  return ReplyStatus::Failed;
}

bool LinkSession::awaitReplyQuietly(std::uint8_t& reply) {
  return waitForReply(reply) == WaitResult::Byte;
}

WaitResult LinkSession::waitForReply(std::uint8_t& reply) {
  if (!closing_) {
    const WaitResult result = port_.ReadByte(reply, context_.timings.replyBound);
    if (result == WaitResult::Byte) {
      observeLatency(Clock::now() - sentAt_);
      traceReceived(&reply, 1);
    }
    if (result != WaitResult::Cancelled) return result;
  }
  return awaitDueByte(reply, sentAt_);
}

WaitResult LinkSession::awaitDueByte(std::uint8_t& byte, Clock::time_point sentAt) {
  beginClosing();
  const auto left = sentAt + closingAllowance() - Clock::now();
  if (left <= Clock::duration::zero()) return WaitResult::TimedOut;
  const WaitResult result =
      port_.ReadByte(byte, std::chrono::ceil<std::chrono::milliseconds>(left));
  if (result == WaitResult::Byte) traceReceived(&byte, 1);
  return result;
}

std::uint32_t LinkSession::receiveBlock(std::uint8_t* buffer, std::uint32_t length) {
  std::uint32_t arrived = 0;
  if (!closing_) {
    arrived = static_cast<std::uint32_t>(port_.ReadCounted(
        buffer, static_cast<std::int32_t>(length), READ_BLOCK_TIMEOUT_MS, timings().replyBound));
    if (arrived == length) observeLatency(Clock::now() - sentAt_);
    traceReceived(buffer, arrived);
    if (arrived == length || !cancelled() || port_.IsGone()) return arrived;
    beginClosing();
  }
  const auto left = sentAt_ + closingAllowance() - Clock::now();
  if (left <= Clock::duration::zero()) return arrived;
  const auto late = static_cast<std::uint32_t>(
      port_.ReadCounted(buffer + arrived, static_cast<std::int32_t>(length - arrived),
                        READ_BLOCK_TIMEOUT_MS, std::chrono::ceil<std::chrono::milliseconds>(left)));
  traceReceived(buffer + arrived, late);
  return arrived + late;
}

void LinkSession::abortTransfer() {
  send(ABORT_PACKET, sizeof ABORT_PACKET);
  std::uint8_t ignored = 0;
  awaitReplyQuietly(ignored);
}

int LinkSession::endCancelledTransfer() {
  abortTransfer();
  postCancelled();
  return 1;
}

bool LinkSession::pause(std::chrono::milliseconds pause) {
  const auto until = Clock::now() + pause;
  while (!cancelled()) {
    const auto now = Clock::now();
    if (now >= until) return true;
    std::this_thread::sleep_for(
        std::min<Clock::duration>(until - now, std::chrono::milliseconds(20)));
  }
  return false;
}

void LinkSession::postCancelled() {
  PostToDialog(dialog_, failureMessage(RunFailure::Cancelled));
}

void LinkSession::postFailure(RunFailure failure) {
  PostToDialog(dialog_, failureMessage(closing_ || cancelled() ? RunFailure::Cancelled : failure));
}

LinkSession::Clock::duration LinkSession::closingAllowance() const {
  const Clock::duration allowance = 2 * latency_.longest() + timings().closingAllowance;
  return std::min<Clock::duration>(allowance, timings().replyBound);
}

void LinkSession::observeLatency(Clock::duration latency) {
  latency_.observe(latency);
}

void LinkSession::traceReceived(const std::uint8_t* bytes, std::size_t length) {
  if (context_.trace && length > 0) context_.trace->received(bytes, length);
}

void LinkSession::beginClosing() {
  closing_ = true;
  port_.SetCancelFlag(nullptr);
}

void LinkSession::postWaitFailure(WaitResult result) {
  switch (result) {
    case WaitResult::TimedOut:
      postFailure(RunFailure::DeviceSilent);
      break;
    case WaitResult::PortGone:
      postFailure(RunFailure::PortGone);
      break;
    case WaitResult::Cancelled:
      postCancelled();
      break;
    case WaitResult::Byte:
      break;
  }
}

}  // namespace voltrix

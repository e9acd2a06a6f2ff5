#include "serial/LinkSession.h"

#include <thread>

#include "engine/RunFailure.h"

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

LinkSession::LinkSession(DownloadState& state, MessageSink& dialog, const LinkContext& context)
    : state_(state), dialog_(dialog), context_(context), port_(context.resolver) {
  port_.SetCancelFlag(&state_.cancelRequested);
}

bool LinkSession::open() {
  const auto port = static_cast<std::uint32_t>(state_.comPort.load());
  const auto baud = static_cast<std::uint32_t>(state_.baudRate.load());
  if (port_.Open(port, baud)) return true;
  if (context_.openFailures) {
    context_.openFailures->record(port_.LastOpenFailure());
  }
  PostToDialog(dialog_, failureMessage(RunFailure::PortOpen));
  return false;
}

void LinkSession::send(const std::uint8_t* bytes, std::uint32_t length) {
  port_.Write(bytes, length);
}

ReplyStatus LinkSession::awaitReply(std::uint8_t& reply) {
  const WaitResult result = port_.ReadByte(reply, context_.timings.replyBound);
  if (result == WaitResult::Byte) return ReplyStatus::Received;
  postWaitFailure(result);
  return ReplyStatus::Failed;
}

bool LinkSession::awaitReplyQuietly(std::uint8_t& reply) {
  return port_.ReadByte(reply, context_.timings.replyBound) == WaitResult::Byte;
}

std::uint32_t LinkSession::receiveBlock(std::uint8_t* buffer, std::uint32_t length) {
  return port_.ReadCounted(buffer, static_cast<std::int32_t>(length), READ_BLOCK_TIMEOUT_MS,
                           context_.timings.replyBound);
}

void LinkSession::abortTransfer() {
  send(ABORT_PACKET, sizeof ABORT_PACKET);
  std::uint8_t ignored = 0;
  awaitReplyQuietly(ignored);
}

bool LinkSession::pause(std::chrono::milliseconds pause) {
  const auto until = std::chrono::steady_clock::now() + pause;
  while (!cancelled()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= until) return true;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(until - now, std::chrono::milliseconds(20)));
  }
  return false;
}

void LinkSession::postCancelled() {
  PostToDialog(dialog_, failureMessage(RunFailure::Cancelled));
}

void LinkSession::postWaitFailure(WaitResult result) {
  switch (result) {
    case WaitResult::TimedOut:
      PostToDialog(dialog_, failureMessage(RunFailure::DeviceSilent));
      break;
    case WaitResult::PortGone:
      PostToDialog(dialog_, failureMessage(RunFailure::PortGone));
      break;
    case WaitResult::Cancelled:
      postCancelled();
      break;
    case WaitResult::Byte:
      break;
  }
}

}  // namespace voltrix

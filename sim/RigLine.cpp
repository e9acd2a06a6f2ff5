#include "sim/RigLine.h"

#include <algorithm>

namespace voltrix::sim {

RigLine::RigLine(const SimConfig& config)
    : config_(config),
      protocol_(config),
      fromHost_(config.baudRate, config.paced),
      toHost_(config.baudRate, config.paced) {}

void RigLine::takeFromHost(const std::uint8_t* bytes, std::size_t count, Clock::time_point now) {
  for (std::size_t i = 0; i < count && !hangUpAt_; ++i) {
    lastArrival_ = fromHost_.deliver(now);
    answer(bytes[i], lastArrival_);
  }
}

void RigLine::answer(std::uint8_t byte, Clock::time_point arrived) {
  LoaderAnswer answer = protocol_.receive(byte);
  if (answer.hangUp) {
    hangUpAt_ = arrived;
    return;
  }
  if (answer.bytes.empty()) return;
  Clock::time_point ready = arrived + config_.replyLatency + answer.lateBy;
  if (config_.answerInTurn) {
    ready = std::max(arrived, busyUntil_) + config_.replyLatency + answer.lateBy;
    busyUntil_ = ready;
  }
  Clock::time_point lastDelivered = ready;
  for (std::size_t i = 0; i < answer.bytes.size(); ++i) lastDelivered = toHost_.deliver(ready);
  outboundBytes_ += answer.bytes.size();
  outbound_.push_back({std::move(answer.bytes), lastDelivered});
}

void RigLine::collectDue(Clock::time_point now, std::vector<std::uint8_t>& out) const {
  const Clock::time_point until = hangUpAt_ ? std::min(now, *hangUpAt_) : now;
  std::size_t skip = frontSent_;
  for (const Answer& answer : outbound_) {
    if (answer.due > until) return;
    out.insert(out.end(), answer.bytes.begin() + static_cast<std::ptrdiff_t>(skip),
               answer.bytes.end());
    skip = 0;
  }
}

bool RigLine::markSent(std::size_t count, Clock::time_point now, LatenessTally& tally) {
  while (count > 0 && !outbound_.empty()) {
    const Answer& front = outbound_.front();
    const std::size_t rest = front.bytes.size() - frontSent_;
    if (count < rest) {
      frontSent_ += count;
      outboundBytes_ -= count;
      return false;
    }
    count -= rest;
    outboundBytes_ -= rest;
    const std::chrono::nanoseconds late = now - front.due;
    ++tally.answers;
    tally.total += late;
    tally.worst = std::max(tally.worst, late);
    outbound_.pop_front();
    frontSent_ = 0;
  }
  return true;
}

void RigLine::dropAnswers() {
  outbound_.clear();
  outboundBytes_ = 0;
  frontSent_ = 0;
}

RigLine::Clock::time_point RigLine::readableAgainAt() const {
  return lastArrival_ - fromHost_.byteTime() * static_cast<long>(kMaxPendingFromHost);
}

std::optional<RigLine::Clock::time_point> RigLine::nextDue(bool answersMayLeave,
                                                           Clock::time_point now) const {
  std::optional<Clock::time_point> due;
  const auto consider = [&due](Clock::time_point at) { due = due ? std::min(*due, at) : at; };
  if (answersMayLeave && !outbound_.empty()) consider(outbound_.front().due);
  if (hangUpAt_) consider(*hangUpAt_);
  if (readableAgainAt() > now) consider(readableAgainAt());
  return due;
}

bool RigLine::mayRead(Clock::time_point now) const {
  return !hangUpAt_ && outboundBytes_ < kMaxPendingToHost && readableAgainAt() <= now;
}

}  // namespace voltrix::sim

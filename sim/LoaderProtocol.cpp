#include "sim/LoaderProtocol.h"

#include <algorithm>

#include "engine/ImageFileOps.h"

namespace voltrix::sim {

namespace {

constexpr std::uint8_t CMD_SYNC = 0x53;
constexpr std::uint8_t CMD_WRITE = 0x57;
constexpr std::uint8_t CMD_READ = 0x52;
constexpr std::uint8_t DATA_REQUEST = 0xBB;
constexpr std::uint8_t CMD_END_OK = 0x5A;
constexpr std::uint8_t CMD_END_FAIL = 0x45;
constexpr std::array<std::uint8_t, 3> ABORT_PACKET = {0x03, 0x45, 0x00};
constexpr std::uint32_t BLOCK_SIZE = 64;

// Header forms: the length byte, and the count byte that must follow it.
constexpr std::uint8_t WRITE_FIRST = 0x0A;
constexpr std::uint8_t WRITE_FULL = 0x05;
constexpr std::uint8_t WRITE_LAST = 0x07;
constexpr std::uint8_t READ_FIRST = 0x07;
constexpr std::uint8_t READ_FULL = 0x02;
constexpr std::uint8_t READ_LAST = 0x04;

std::uint32_t bigEndian(const std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t n) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < n; ++i) value = (value << 8) | bytes[at + i];
  return value;
}

bool validCount(std::uint32_t count) {
  return count >= 1 && count <= BLOCK_SIZE;
}

std::vector<std::uint8_t> one(std::uint8_t byte) {
  return {byte};
}

}  // namespace

LoaderProtocol::LoaderProtocol(const SimConfig& config) : config_(config) {
  packet_.reserve(BLOCK_SIZE);
}

LoaderAnswer LoaderProtocol::receive(std::uint8_t byte) {
  LoaderAnswer answer;
  switch (state_) {
    case State::Idle:
      answer = receiveIdle(byte);
      break;
    case State::WriteHeader:
      answer = collectHeader(byte, SimStep::WriteHeader);
      break;
    case State::ReadHeader:
      answer = collectHeader(byte, SimStep::ReadHeader);
      break;
    case State::WriteData:
      packet_.push_back(byte);
      if (packet_.size() == pending_.count) answer = complete(SimStep::WriteData);
      break;
    case State::AwaitDataRequest:
      if (byte == DATA_REQUEST) answer = complete(SimStep::DataRequest);
      break;
    case State::AwaitReadAck:
      if (byte == kAck) answer = complete(SimStep::ReadAck);
      break;
    case State::Abort:
      answer = receiveAbortByte(byte);
      break;
    case State::Dead:
      break;
  }
  return answer;
}

LoaderAnswer LoaderProtocol::receiveIdle(std::uint8_t byte) {
  switch (byte) {
    case CMD_SYNC:
      return complete(SimStep::Sync);
    case CMD_WRITE:
      return complete(SimStep::WriteCommand);
    case CMD_READ:
      return complete(SimStep::ReadCommand);
    case CMD_END_OK:
    case CMD_END_FAIL:
      endOfRunByte_ = byte;
      return complete(SimStep::EndOfRun);
    case ABORT_PACKET[0]:
      state_ = State::Abort;
      abortMatched_ = 1;
      return {};
    default:
      // Stray bytes between steps are dropped without an answer: the device
      // never speaks unasked.
      return {};
  }
}

LoaderAnswer LoaderProtocol::receiveAbortByte(std::uint8_t byte) {
  if (byte == ABORT_PACKET[abortMatched_]) {
    if (++abortMatched_ < ABORT_PACKET.size()) return {};
    state_ = State::Idle;
    return complete(SimStep::Abort);
  }
  state_ = State::Idle;
  return receiveIdle(byte);
}

LoaderAnswer LoaderProtocol::collectHeader(std::uint8_t byte, SimStep step) {
  // The first byte is the header's length, whatever it is; the header is
  // judged once that many bytes are in.
  packet_.push_back(byte);
  if (packet_.size() < packet_.front()) return {};
  return complete(step);
}

LoaderAnswer LoaderProtocol::complete(SimStep step) {
  const int arrival = ++arrivals_[static_cast<std::size_t>(step)];
  const FaultPlan& plan = config_.fault;
  const FaultKind fault =
      plan.step == step && plan.occurrence == arrival ? plan.kind : FaultKind::None;

  LoaderAnswer answer;
  if (fault == FaultKind::Silence || fault == FaultKind::HangUp) {
    state_ = State::Dead;
    answer.hangUp = fault == FaultKind::HangUp;
    return answer;
  }
  answer.bytes = perform(step, fault == FaultKind::Refuse);
  if (fault == FaultKind::WrongByte && !answer.bytes.empty()) {
    answer.bytes[answer.bytes.size() / 2] ^= 0x01;
  } else if (fault == FaultKind::ShortBlock) {
    answer.bytes.resize(answer.bytes.size() / 2);
  } else if (fault == FaultKind::LateReply) {
    answer.lateBy = plan.lateBy;
  }
  return answer;
}

std::vector<std::uint8_t> LoaderProtocol::perform(SimStep step, bool refused) {
  switch (step) {
    case SimStep::Sync:
      return answerSync(refused);
    case SimStep::WriteCommand:
      state_ = State::WriteHeader;
      packet_.clear();
      return one(refused ? kRefuse : kWriteCommandReply);
    case SimStep::WriteHeader:
      return answerWriteHeader(refused);
    case SimStep::WriteData:
      return answerWriteData(refused);
    case SimStep::ReadCommand:
      state_ = State::ReadHeader;
      packet_.clear();
      return one(refused ? kRefuse : kReadCommandReply);
    case SimStep::ReadHeader:
      return answerReadHeader(refused);
    case SimStep::DataRequest:
      return answerDataRequest(refused);
    case SimStep::ReadAck:
      state_ = State::Idle;
      return one(refused ? kRefuse : kReadAckReply);
    case SimStep::Abort:
      state_ = State::Idle;
      return one(refused ? kRefuse : kAbortReply);
    case SimStep::EndOfRun:
      // The run is over: the next one starts with a sync of its own.
      state_ = State::Idle;
      downloadAccepted_ = false;
      nextWriteAddress_.reset();
      nextReadAddress_.reset();
      return one(refused ? kRefuse : kEndOfRunReply);
  }
  return {};
}

std::vector<std::uint8_t> LoaderProtocol::answerSync(bool refused) {
  ++syncRequests_;
  if (syncRequests_ <= config_.refuseSyncs) return one(kRefuse);
  if (refused) return one(kSyncBusy);
  // A new download: its first block must say where it goes.
  downloadAccepted_ = true;
  nextWriteAddress_.reset();
  return one(kAck);
}

std::vector<std::uint8_t> LoaderProtocol::answerWriteHeader(bool refused) {
  const std::optional<Block> block = parseWriteHeader();
  packet_.clear();
  if (refused || !block || !downloadAccepted_) {
    state_ = State::Idle;
    return one(kRefuse);
  }
  pending_ = *block;
  state_ = State::WriteData;
  return one(kAck);
}

std::optional<LoaderProtocol::Block> LoaderProtocol::parseWriteHeader() const {
  const std::vector<std::uint8_t>& p = packet_;
  Block block;
  if (p[0] == WRITE_FIRST && p[1] == WRITE_FIRST - 2) {
    block = {bigEndian(p, 2, 3), bigEndian(p, 5, 2), bigEndian(p, 7, 3)};
  } else if (p[0] == WRITE_FULL && p[1] == WRITE_FULL - 2 && nextWriteAddress_) {
    block = {*nextWriteAddress_, BLOCK_SIZE, bigEndian(p, 2, 3)};
  } else if (p[0] == WRITE_LAST && p[1] == WRITE_LAST - 2 && nextWriteAddress_) {
    block = {*nextWriteAddress_, bigEndian(p, 2, 2), bigEndian(p, 4, 3)};
  } else {
    return std::nullopt;
  }
  if (!validCount(block.count)) return std::nullopt;
  return block;
}

std::vector<std::uint8_t> LoaderProtocol::answerWriteData(bool refused) {
  std::uint32_t sum = 0;
  for (std::uint8_t byte : packet_) sum += byte;
  const bool intact = (sum & 0xFFFFFF) == pending_.checksum;
  if (intact && !refused) {
    // The host sends every byte through the segment transform; the device
    // keeps the image's own bytes.
    for (std::uint32_t i = 0; i < pending_.count; ++i) {
      memory_.store(pending_.address + i, transformByte(packet_[i]));
    }
    nextWriteAddress_ = (pending_.address + pending_.count) & kAddressMask;
  }
  packet_.clear();
  state_ = State::Idle;
  return one(intact && !refused ? kAck : kRefuse);
}

std::vector<std::uint8_t> LoaderProtocol::answerReadHeader(bool refused) {
  const std::optional<Block> block = parseReadHeader();
  packet_.clear();
  if (refused || !block) {
    state_ = State::Idle;
    return one(kRefuse);
  }
  pending_ = *block;
  state_ = State::AwaitDataRequest;
  return one(kAck);
}

std::optional<LoaderProtocol::Block> LoaderProtocol::parseReadHeader() const {
  const std::vector<std::uint8_t>& p = packet_;
  Block block;
  if (p[0] == READ_FIRST && p[1] == READ_FIRST - 2) {
    block = {bigEndian(p, 2, 3), bigEndian(p, 5, 2), 0};
  } else if (p[0] == READ_FULL && p[1] == READ_FULL - 2 && nextReadAddress_) {
    block = {*nextReadAddress_, BLOCK_SIZE, 0};
  } else if (p[0] == READ_LAST && p[1] == READ_LAST - 2 && nextReadAddress_) {
    block = {*nextReadAddress_, bigEndian(p, 2, 2), 0};
  } else {
    return std::nullopt;
  }
  if (!validCount(block.count)) return std::nullopt;
  return block;
}

std::vector<std::uint8_t> LoaderProtocol::answerDataRequest(bool refused) {
  state_ = State::AwaitReadAck;
  if (refused) return one(kRefuse);
  std::vector<std::uint8_t> block(pending_.count);
  for (std::uint32_t i = 0; i < pending_.count; ++i) {
    block[i] = memory_.load(pending_.address + i, kUnwrittenMemory);
  }
  nextReadAddress_ = (pending_.address + pending_.count) & kAddressMask;
  return block;
}

}  // namespace voltrix::sim

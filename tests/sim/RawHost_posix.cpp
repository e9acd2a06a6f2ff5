#include "tests/sim/RawHost.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <thread>

#include "engine/ImageFileOps.h"

namespace voltrix::sim::test {

namespace {

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

void appendBigEndian(Bytes& bytes, std::uint32_t value, int count) {
  for (int shift = 8 * (count - 1); shift >= 0; shift -= 8) {
    bytes.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

}  // namespace

RawHost::RawHost(const std::string& devicePath)
    : fd_(::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
  termios settings{};
  if (!fd_ || ::tcgetattr(fd_.get(), &settings) != 0) {
    ADD_FAILURE() << "cannot open " << devicePath << " as a terminal";
    fd_.reset();
    return;
  }
  ::cfmakeraw(&settings);
  if (::tcsetattr(fd_.get(), TCSANOW, &settings) != 0) ADD_FAILURE() << "cannot make raw";
}

void RawHost::send(const Bytes& bytes) {
  std::size_t done = 0;
  const Clock::time_point deadline = Clock::now() + kPatience;
  while (done < bytes.size() && Clock::now() < deadline) {
    const ssize_t written = ::write(fd_.get(), bytes.data() + done, bytes.size() - done);
    if (written > 0) {
      done += static_cast<std::size_t>(written);
    } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
      break;
    } else {
      pollfd writable{fd_.get(), POLLOUT, 0};
      ::poll(&writable, 1, millisecondsLeft(deadline));
    }
  }
  EXPECT_EQ(done, bytes.size()) << "the device side did not take all bytes";
}

Bytes RawHost::receive(std::size_t count, std::chrono::milliseconds within) {
  Bytes bytes(count);
  std::size_t done = 0;
  const Clock::time_point deadline = Clock::now() + within;
  while (done < count) {
    pollfd readable{fd_.get(), POLLIN, 0};
    if (::poll(&readable, 1, millisecondsLeft(deadline)) <= 0) break;
    const ssize_t got = ::read(fd_.get(), bytes.data() + done, count - done);
    if (got > 0) {
      done += static_cast<std::size_t>(got);
    } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
      break;
    }
  }
  bytes.resize(done);
  return bytes;
}

std::optional<std::uint8_t> RawHost::receiveByte(std::chrono::milliseconds within) {
  const Bytes byte = receive(1, within);
  if (byte.empty()) return std::nullopt;
  return byte[0];
}

std::optional<std::uint8_t> RawHost::ask(const Bytes& bytes, std::chrono::milliseconds within) {
  send(bytes);
  return receiveByte(within);
}

bool RawHost::seesHangUp(std::chrono::milliseconds within) {
  const Clock::time_point deadline = Clock::now() + within;
  do {
    pollfd line{fd_.get(), POLLIN, 0};
    if (::poll(&line, 1, millisecondsLeft(deadline)) > 0) {
      if (line.revents & (POLLHUP | POLLERR)) return true;
      std::uint8_t byte;
      const ssize_t got = ::read(fd_.get(), &byte, 1);
      if (got == 0 || (got < 0 && errno == EIO)) return true;
      if (got > 0) ADD_FAILURE() << "unexpected byte while waiting for the hang-up";
    }
  } while (Clock::now() < deadline);
  return false;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds within) {
  const Clock::time_point deadline = Clock::now() + within;
  while (!condition()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::uint32_t checksumOf(const Bytes& block) {
  std::uint32_t sum = 0;
  for (std::uint8_t byte : block) sum += byte;
  return sum & 0xFFFFFF;
}

Bytes writeHeaderFirst(std::uint32_t address, const Bytes& block) {
  Bytes header = {0x0A, 0x08};
  appendBigEndian(header, address, 3);
  appendBigEndian(header, static_cast<std::uint32_t>(block.size()), 2);
  appendBigEndian(header, checksumOf(block), 3);
  return header;
}

Bytes writeHeaderFull(const Bytes& block) {
  Bytes header = {0x05, 0x03};
  appendBigEndian(header, checksumOf(block), 3);
  return header;
}

Bytes writeHeaderLast(const Bytes& block) {
  Bytes header = {0x07, 0x05};
  appendBigEndian(header, static_cast<std::uint32_t>(block.size()), 2);
  appendBigEndian(header, checksumOf(block), 3);
  return header;
}

Bytes readHeaderFirst(std::uint32_t address, std::uint16_t count) {
  Bytes header = {0x07, 0x05};
  appendBigEndian(header, address, 3);
  appendBigEndian(header, count, 2);
  return header;
}

Bytes readHeaderFull() {
  return {0x02, 0x00};
}

Bytes readHeaderLast(std::uint16_t count) {
  Bytes header = {0x04, 0x02};
  appendBigEndian(header, count, 2);
  return header;
}

Bytes transformed(const Bytes& bytes) {
  Bytes result;
  for (std::uint8_t byte : bytes) result.push_back(transformByte(byte));
  return result;
}

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t count) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
               bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

std::string describe(const std::vector<TranscriptEntry>& transcript) {
  std::string text;
  bool first = true;
  bool lastFromHost = false;
  for (const TranscriptEntry& entry : transcript) {
    if (first || entry.fromHost != lastFromHost) text += entry.fromHost ? "\n> " : "\n< ";
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X ", entry.byte);
    text += hex;
    first = false;
    lastFromHost = entry.fromHost;
  }
  return text;
}

ExpectedTranscript& ExpectedTranscript::host(const Bytes& bytes) {
  for (std::uint8_t byte : bytes) entries_.push_back({true, byte});
  return *this;
}

ExpectedTranscript& ExpectedTranscript::device(const Bytes& bytes) {
  for (std::uint8_t byte : bytes) entries_.push_back({false, byte});
  return *this;
}

}  // namespace voltrix::sim::test

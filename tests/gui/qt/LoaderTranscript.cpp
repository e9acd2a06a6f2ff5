#include "tests/gui/qt/LoaderTranscript.h"

#include <cstdint>

#include "link/ProtocolConstants.h"

namespace voltrix::test {

namespace {

enum class Awaiting { Command, WriteHeader, WriteData, ReadHeader, DataRequest, ReadAck };

// Where the loader goes once it has answered the step it was awaiting; a
// refused header sends it back to commands (the host's abort follows).
Awaiting next(Awaiting awaiting, std::uint8_t firstByte, std::uint8_t firstReply) {
  switch (awaiting) {
    case Awaiting::Command:
      if (firstByte == CMD_WRITE) return Awaiting::WriteHeader;
      if (firstByte == CMD_READ) return Awaiting::ReadHeader;
      return Awaiting::Command;  // sync, abort packet, end of run
    case Awaiting::WriteHeader:
      return firstReply == ACK ? Awaiting::WriteData : Awaiting::Command;
    case Awaiting::ReadHeader:
      return firstReply == ACK ? Awaiting::DataRequest : Awaiting::Command;
    case Awaiting::DataRequest:
      return Awaiting::ReadAck;
    case Awaiting::WriteData:
    case Awaiting::ReadAck:
      return Awaiting::Command;
  }
  return Awaiting::Command;
}

bool beginsExchange(std::uint8_t firstByte) {
  return firstByte == CMD_SYNC || firstByte == CMD_WRITE || firstByte == CMD_READ;
}

}  // namespace

TranscriptReading readTranscript(const std::vector<sim::TranscriptEntry>& transcript,
                                 std::size_t from) {
  TranscriptReading reading;
  Awaiting awaiting = Awaiting::Command;
  std::size_t at = 0;
  // A device byte before any step of the host's answers nothing of this run.
  while (at < transcript.size() && !transcript[at].fromHost) ++at;
  while (at < transcript.size()) {
    const std::size_t stepStart = at;
    const std::uint8_t firstByte = transcript[at].byte;
    while (at < transcript.size() && transcript[at].fromHost) ++at;
    if (awaiting == Awaiting::Command && beginsExchange(firstByte)) {
      reading.exchangesBegunFrom += stepStart >= from ? 1 : 0;
      reading.blockWritesBegun += firstByte == CMD_WRITE ? 1 : 0;
    }
    if (at == transcript.size()) {
      reading.awaitingAnswer = true;
      return reading;
    }
    const std::uint8_t firstReply = transcript[at].byte;
    while (at < transcript.size() && !transcript[at].fromHost) ++at;
    awaiting = next(awaiting, firstByte, firstReply);
  }
  reading.atCommandState = awaiting == Awaiting::Command;
  return reading;
}

}  // namespace voltrix::test

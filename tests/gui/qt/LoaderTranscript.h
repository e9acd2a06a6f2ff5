#pragma once
// Reads what went over the line, as the simulated device recorded it, step
// by step: the host sends a step, the device answers it. From the steps
// alone it follows where the device's loader stands, so a test can tell a
// run that stopped between two exchanges from one that left the device in
// the middle of a block.

#include <cstddef>
#include <vector>

#include "sim/ZetakSimulator.h"

namespace voltrix::test {

struct TranscriptReading {
  // Every step the host began was answered, and the last one ended an
  // exchange: the device waits for a command.
  bool atCommandState = false;
  // The last step the host sent has not been answered yet.
  bool awaitingAnswer = false;
  // Block writes begun ('W' sent), in all.
  int blockWritesBegun = 0;
  // Exchanges (handshake, block write, block read-back) whose first byte
  // came at or after the entry `from` of the transcript. Abort packets and
  // the end-of-run byte end a run cleanly and do not count.
  int exchangesBegunFrom = 0;
};

TranscriptReading readTranscript(const std::vector<sim::TranscriptEntry>& transcript,
                                 std::size_t from);

}  // namespace voltrix::test

#pragma once
// What one whole run puts on the line, from the protocol: the benchmarks'
// ideal against which measured times are read.

#include <cstdint>
#include <vector>

namespace voltrix::bench {

// Bytes on the line and reply turnarounds of one whole run.
struct LineCost {
  double bytes = 0;
  double turnarounds = 0;
  double settlePauses = 0;
  double blockExchanges = 0;  // each block written, and each read back
};

inline LineCost protocolCost(const std::vector<std::uint32_t>& lengths) {
  LineCost cost;
  for (std::uint32_t length : lengths) {
    const std::uint32_t full = length / 64, rest = length % 64;
    const std::uint32_t blocks = full + (rest ? 1 : 0);
    cost.bytes += 2;  // 'S' and its answer
    cost.turnarounds += 1;
    cost.settlePauses += 1;
    cost.blockExchanges += 2 * blocks;
    for (std::uint32_t i = 0; i < blocks; ++i) {
      const std::uint32_t count = i < full ? 64 : rest;
      const std::uint32_t writeHeader = i == 0 ? 10 : (count == 64 ? 5 : 7);
      const std::uint32_t readHeader = i == 0 ? 7 : (count == 64 ? 2 : 4);
      cost.bytes += 1 + writeHeader + count + 3;         // 'W', header, data; three answers
      cost.bytes += 1 + readHeader + 1 + 1 + 3 + count;  // 'R', header, BB, AA; answers, data
      cost.turnarounds += 3 + 4;
    }
  }
  cost.bytes += 2;  // end-of-run byte and its answer
  cost.turnarounds += 1;
  return cost;
}

}  // namespace voltrix::bench

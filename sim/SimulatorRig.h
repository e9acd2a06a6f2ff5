#pragma once
// Many simulated Zetak loaders served by one thread: each device has its own
// pseudo-terminal, loader state, line clocks and fault, as a ZetakSimulator
// has, but all of them share one event loop and one timer. A station
// benchmark needs devices that cost far less than the host they measure;
// one thread per device waking for every byte does not.
//
// Paced, a device's answer is released to the host in one write at the
// moment the line would have delivered its last byte, so a read-back block
// arrives whole. The timer wakes some tens of microseconds after that
// moment, never before it; lateness() says by how much on average.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/ZetakSimulator.h"

namespace voltrix::sim {

// How late the answers left against the time the line would have delivered
// them.
struct ReleaseLateness {
  std::uint64_t answers = 0;
  std::chrono::nanoseconds mean{0};
  std::chrono::nanoseconds worst{0};
};

class SimulatorRig {
 public:
  // One device per configuration, in that order.
  explicit SimulatorRig(std::vector<SimConfig> configs);
  ~SimulatorRig();  // stops the thread, closes every device
  SimulatorRig(const SimulatorRig&) = delete;
  SimulatorRig& operator=(const SimulatorRig&) = delete;

  // Creates every pseudo-terminal and starts serving. Once per object; false
  // (errno set) when a device cannot be made, and then nothing is served.
  bool start();
  // Ends the thread at once, even with answers still due, and closes every
  // device. What was stored stays.
  void stop();

  std::size_t size() const;
  // The device side of device `index` (0-based), e.g. /dev/pts/7.
  const std::string& devicePath(std::size_t index) const;

  // Snapshots, safe to take while the rig runs; as ZetakSimulator's.
  std::map<std::uint32_t, std::uint8_t> memory(std::size_t index) const;
  std::vector<std::uint8_t> memoryRange(std::size_t index, std::uint32_t address,
                                        std::uint32_t length) const;
  std::size_t storedBytes(std::size_t index) const;
  std::optional<std::uint8_t> endOfRunByte(std::size_t index) const;
  bool hungUp(std::size_t index) const;
  ReleaseLateness lateness() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace voltrix::sim

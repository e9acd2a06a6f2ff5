#pragma once
// The command line of zetak-sim: the simulator's knobs plus where to put the
// COM<n> link that lets Voltrix find the simulated device by port number.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/ZetakSimulator.h"

namespace voltrix::sim {

struct SimOptions {
  SimConfig config;
  std::string linkDirectory;  // with comNumber: make linkDirectory/COM<n>
  std::optional<std::uint32_t> comNumber;
  // With deviceCount: that many devices served by one rig, the fault only on
  // device faultDevice (1-based) when it is given.
  std::optional<std::uint32_t> deviceCount;
  std::optional<std::uint32_t> faultDevice;
  bool help = false;
  bool version = false;
};

struct SimOptionsResult {
  std::optional<SimOptions> options;  // empty when the command line is wrong
  std::string error;                  // why, for the user
};

// `arguments` without the program name. Options take their value as the
// next argument or after '=' (--baud=9600).
SimOptionsResult parseSimOptions(const std::vector<std::string>& arguments);

// KIND:STEP[:N[:LATE_MS]], e.g. "refuse:write-data:2" or "late-reply:sync:1:300".
std::optional<FaultPlan> parseFaultPlan(const std::string& text);

// Each device's configuration: one for a lone simulator, deviceCount for a
// rig, the fault kept only where --fault-device puts it.
std::vector<SimConfig> deviceConfigs(const SimOptions& options);

std::string simUsage();

}  // namespace voltrix::sim

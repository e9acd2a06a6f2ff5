#pragma once
// Several simulated devices in one device map, for voltrix-cli's station
// runs.

#include <filesystem>
#include <sstream>

#include "tests/cli/CliFixture_posix.h"

namespace voltrix {

using test::linesOf;

inline bool runFolderLeft(const std::string& folder) {
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().filename().string().rfind("voltrix-run-", 0) == 0) return true;
  }
  return false;
}

// Not voltrix::Station, the library's class of that name.
namespace cli_station {

class Station : public CliDownload {
 protected:
  // Starts a device and enters it in the device map as \Device\VCP<n>.
  sim::ZetakSimulator& addDevice(sim::SimConfig config = {}) {
    return addDeviceAs("VCP" + std::to_string(devices.size()), config);
  }
  // The same under the value name `value`.
  sim::ZetakSimulator& addDeviceAs(const std::string& value, sim::SimConfig config = {}) {
    const int n = static_cast<int>(devices.size());
    devices.push_back(std::make_unique<sim::ZetakSimulator>(config));
    sim::ZetakSimulator& added = *devices.back();
    EXPECT_TRUE(added.start());
    const std::string com = "COM" + std::to_string(10 + n);
    EXPECT_EQ(::symlink(added.devicePath().c_str(), dir.file("dosdevices/" + com).c_str()), 0);
    test::writeFileBytes(dir.file("serialcomm/" + value), com);
    return added;
  }
  std::vector<std::string> portArguments() const {
    std::vector<std::string> args;
    for (const auto& device : devices) {
      args.push_back("--port");
      args.push_back(device->devicePath());
    }
    return args;
  }
  bool holdsImage(const sim::ZetakSimulator& simulated) const {
    for (const ImageRecord& record : records) {
      if (simulated.memoryRange(static_cast<std::uint32_t>(record.loadAddress),
                                static_cast<std::uint32_t>(record.data.size())) != record.data) {
        return false;
      }
    }
    return true;
  }
  // The log's records, one line each.
  std::vector<std::string> logRecords() const {
    return linesOf(test::readFileBytes(dir.file("station.jsonl")));
  }

  std::vector<std::unique_ptr<sim::ZetakSimulator>> devices;
};

}  // namespace cli_station
using cli_station::Station;

inline constexpr std::uint8_t kVerified = 'Z';
inline constexpr std::uint8_t kFailed = 'E';

}  // namespace voltrix

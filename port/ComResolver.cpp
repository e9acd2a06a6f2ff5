#include "port/ComResolver.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

#include "port/ComOrder.h"

namespace voltrix {

namespace {

namespace fs = std::filesystem;

constexpr char kOverrideVariable[] = "VOLTRIX_DOSDEVICES";

std::string comName(std::uint32_t portNumber) {
  return "COM" + std::to_string(portNumber);
}

// The override directory, or empty when the variable is unset or empty.
std::string overrideDirectory() {
  const char* value = std::getenv(kOverrideVariable);
  return value != nullptr ? std::string(value) : std::string();
}

// One COM<n> entry of the override directory and the node it stands for.
struct OverrideEntry {
  std::uint32_t comNumber;
  std::string entryName;
  std::string devicePath;
};

// What a COM<n> entry stands for: the target of the link (taken relative to
// the directory when it is relative), or the entry itself when it is no link.
std::string deviceOfEntry(const fs::path& entry) {
  std::error_code error;
  if (!fs::is_symlink(fs::symlink_status(entry, error))) return entry.string();
  fs::path target = fs::read_symlink(entry, error);
  if (error) return entry.string();
  if (target.is_relative()) target = entry.parent_path() / target;
  return target.lexically_normal().string();
}

// Every COM<n> entry of the directory, exact upper-case names first and then
// by name, so that the choice among names differing only in case is fixed.
std::vector<OverrideEntry> overrideEntries(const std::string& directory, std::string& problem) {
  std::vector<OverrideEntry> entries;
  std::error_code error;
  fs::directory_iterator it(directory, error);
  if (error) {
    problem = "the directory " + directory + " named by " + kOverrideVariable +
              " cannot be read (" + error.message() + ")";
    return entries;
  }
  for (const fs::directory_iterator end; it != end; it.increment(error)) {
    if (error) break;
    const std::string name = it->path().filename().string();
    if (const auto number = comorder::comNumberOfName(name))
      entries.push_back({*number, name, deviceOfEntry(it->path())});
  }
  std::sort(entries.begin(), entries.end(), [](const OverrideEntry& a, const OverrideEntry& b) {
    const bool aExact = a.entryName == comName(a.comNumber);
    const bool bExact = b.entryName == comName(b.comNumber);
    if (aExact != bExact) return aExact;
    return a.entryName < b.entryName;
  });
  return entries;
}

ComResolution resolveInOverride(const std::string& directory, std::uint32_t portNumber) {
  std::string problem;
  const auto entries = overrideEntries(directory, problem);
  if (!problem.empty()) return {"", comName(portNumber) + ": " + problem};
  for (const auto& entry : entries) {
    if (entry.comNumber == portNumber) return {entry.devicePath, ""};
  }
  return {"",
          comName(portNumber) + " is not linked in " + directory + " (" + kOverrideVariable + ")"};
}

std::vector<UsbComPort> usbPortsInOverride(const std::string& directory) {
  std::string problem;
  auto entries = overrideEntries(directory, problem);
  std::vector<std::pair<comorder::UsbRank, UsbComPort>> ranked;
  std::vector<std::uint32_t> seen;
  for (auto& entry : entries) {
    // The first of several names for one number is the one that resolves.
    if (std::find(seen.begin(), seen.end(), entry.comNumber) != seen.end()) continue;
    seen.push_back(entry.comNumber);
    // Ranked by the node the link finally reaches (a by-id link included).
    std::error_code error;
    fs::path node = fs::canonical(entry.devicePath, error);
    if (error) node = entry.devicePath;
    const auto rank = comorder::usbRankOfName(node.filename().string());
    if (rank) ranked.push_back({*rank, {entry.comNumber, std::move(entry.devicePath)}});
  }
  std::sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) {
    if (a.first != b.first) return a.first < b.first;
    return a.second.comNumber < b.second.comNumber;
  });
  std::vector<UsbComPort> ports;
  for (auto& entry : ranked) ports.push_back(std::move(entry.second));
  return ports;
}

// Asks for the variable at each resolve, so that a resolver made early
// follows the set-up of the moment.
class SystemComResolver final : public ComResolver {
 public:
  ComResolution resolve(std::uint32_t portNumber) const override {
    const std::string directory = overrideDirectory();
    if (!directory.empty()) return resolveInOverride(directory, portNumber);
    return platform_->resolve(portNumber);
  }

 private:
  std::shared_ptr<const ComResolver> platform_ = platformComResolver();
};

class FixedDeviceResolver final : public ComResolver {
 public:
  explicit FixedDeviceResolver(std::string devicePath) : devicePath_(std::move(devicePath)) {}
  ComResolution resolve(std::uint32_t) const override {
    if (devicePath_.empty()) return {"", "no device node was named"};
    return {devicePath_, ""};
  }

 private:
  std::string devicePath_;
};

}  // namespace

std::shared_ptr<const ComResolver> systemComResolver() {
  return std::make_shared<SystemComResolver>();
}

std::shared_ptr<const ComResolver> fixedDeviceResolver(std::string devicePath) {
  if (devicePath.empty()) return std::make_shared<FixedDeviceResolver>(std::string());
  return std::make_shared<FixedDeviceResolver>(platformPortDevice(devicePath));
}

std::vector<UsbComPort> usbVirtualComPorts() {
  const std::string directory = overrideDirectory();
  if (!directory.empty()) return usbPortsInOverride(directory);
  return platformUsbComPorts();
}

}  // namespace voltrix

#include "serial/ComResolver.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <utility>

#include "serial/ComOrder.h"

namespace voltrix {

namespace comorder {

namespace {

std::optional<std::uint64_t> decimalNumber(std::string_view digits) {
  if (digits.empty() || digits.size() > 9) return std::nullopt;
  if (digits.size() > 1 && digits.front() == '0') return std::nullopt;
  std::uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  }
  return true;
}

}  // namespace

std::optional<std::uint32_t> comNumberOfName(std::string_view name) {
  if (!startsWithIgnoringCase(name, "com")) return std::nullopt;
  const auto number = decimalNumber(name.substr(3));
  if (!number || *number == 0 || *number > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<std::uint32_t>(*number);
}

std::optional<UsbRank> usbRankOfName(std::string_view name) {
  static constexpr std::string_view kFamilies[] = {"ttyACM", "ttyUSB"};
  for (int family = 0; family < 2; ++family) {
    const std::string_view prefix = kFamilies[family];
    if (name.substr(0, prefix.size()) != prefix) continue;
    if (const auto number = decimalNumber(name.substr(prefix.size())))
      return UsbRank{family, *number};
  }
  return std::nullopt;
}

std::vector<std::string> orderUsbDeviceNames(std::vector<std::string> names) {
  std::vector<std::pair<UsbRank, std::string>> ranked;
  for (auto& name : names) {
    if (const auto rank = usbRankOfName(name)) ranked.emplace_back(*rank, std::move(name));
  }
  std::sort(ranked.begin(), ranked.end());
  std::vector<std::string> ordered;
  ordered.reserve(ranked.size());
  for (auto& entry : ranked) ordered.push_back(std::move(entry.second));
  return ordered;
}

}  // namespace comorder

namespace {

namespace fs = std::filesystem;

constexpr char kOverrideVariable[] = "VOLTRIX_DOSDEVICES";
constexpr char kDeviceDirectory[] = "/dev";

std::string comName(std::uint32_t portNumber) {
  return "COM" + std::to_string(portNumber);
}

// The override directory, or empty when the variable is unset or empty.
std::string overrideDirectory() {
  const char* value = std::getenv(kOverrideVariable);
  return value != nullptr ? std::string(value) : std::string();
}

bool nodeExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
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

std::vector<UsbComPort> usbPortsInDeviceDirectory() {
  std::vector<std::string> names;
  std::error_code error;
  fs::directory_iterator it(kDeviceDirectory, error);
  for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
    names.push_back(it->path().filename().string());
  }
  std::vector<UsbComPort> ports;
  std::uint32_t comNumber = comorder::kFirstUsbComNumber;
  for (const auto& name : comorder::orderUsbDeviceNames(std::move(names))) {
    ports.push_back({comNumber++, std::string(kDeviceDirectory) + "/" + name});
  }
  return ports;
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

ComResolution resolveInDefaultOrder(std::uint32_t portNumber) {
  if (portNumber == 0) return {"", "COM0 does not exist: COM ports are numbered from 1"};
  if (portNumber <= comorder::kOnboardPorts) {
    const std::string path = "/dev/ttyS" + std::to_string(portNumber - 1);
    if (nodeExists(path)) return {path, ""};
    return {"", comName(portNumber) + " stands for " + path + ", which does not exist"};
  }
  const auto ports = usbPortsInDeviceDirectory();
  for (const auto& port : ports) {
    if (port.comNumber == portNumber) return {port.devicePath, ""};
  }
  if (ports.empty()) return {"", comName(portNumber) + ": no USB virtual COM port is attached"};
  std::string listed;
  for (const auto& port : ports) {
    listed += (listed.empty() ? "" : ", ") + comName(port.comNumber) + " " + port.devicePath;
  }
  return {"", comName(portNumber) +
                  ": no USB virtual COM port has that number (attached: " + listed + ")"};
}

class SystemComResolver final : public ComResolver {
 public:
  ComResolution resolve(std::uint32_t portNumber) const override {
    const std::string directory = overrideDirectory();
    if (!directory.empty()) return resolveInOverride(directory, portNumber);
    return resolveInDefaultOrder(portNumber);
  }
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
  return std::make_shared<FixedDeviceResolver>(std::move(devicePath));
}

std::vector<UsbComPort> usbVirtualComPorts() {
  const std::string directory = overrideDirectory();
  if (!directory.empty()) return usbPortsInOverride(directory);
  return usbPortsInDeviceDirectory();
}

}  // namespace voltrix

#include "cli/Preflight.h"

#include "control/ExitCodes.h"
#include "control/PlatformExamples.h"
#include "record/JsonText.h"
#include "record/TraceLog.h"

namespace voltrix::cli {

namespace {

constexpr char kInstallRule[] =
    "sudo install -m 644 res/60-voltrix.rules /etc/udev/rules.d/ && sudo udevadm control "
    "--reload && sudo udevadm trigger --subsystem-match=tty   # from the Voltrix sources; "
    "the voltrix-cli package installs the rule itself";
constexpr char kApplyRule[] =
    "sudo udevadm trigger --subsystem-match=tty   # or plug the device in again";

// A text the device or another program chose, made safe for a terminal: a
// control character could otherwise move the cursor or change colours.
std::string printable(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) c = '?';
  }
  return out;
}

// The holders worth naming: the programs in the device's way, or where there
// are none, the device end itself (a simulator that also took the lock).
std::vector<ProcessHolding> inTheWay(const std::vector<ProcessHolding>& holders) {
  std::vector<ProcessHolding> others;
  for (const ProcessHolding& holder : holders) {
    if (!holder.deviceEnd) others.push_back(holder);
  }
  return others.empty() ? holders : others;
}

std::string holderName(const ProcessHolding& holder) {
  return (holder.command.empty() ? std::string("a process") : printable(holder.command)) +
         " (pid " + std::to_string(holder.pid) + ")";
}

std::string holderList(const std::vector<ProcessHolding>& holders) {
  std::string text;
  for (const ProcessHolding& holder : holders) {
    if (!text.empty()) text += ", ";
    text += holderName(holder);
  }
  return text;
}

// A download of ours under way: stopping it would leave the device half
// written, so it is never the fix.
const ProcessHolding* flashingHolder(const std::vector<ProcessHolding>& holders) {
  for (const ProcessHolding& holder : holders) {
    if (holder.command == "voltrix-cli" || holder.command == "voltrix") return &holder;
  }
  return nullptr;
}

bool heldByModemManager(const std::vector<ProcessHolding>& holders) {
  for (const ProcessHolding& holder : holders) {
    if (holder.command == "ModemManager") return true;
  }
  return false;
}

PreflightProblem permissionProblem(const DeviceFacts& device, const HostFacts& host) {
  PreflightProblem problem{"this user may not open it for reading and writing (" + device.mode +
                               ", group " + device.group + ")",
                           {}};
  if (device.groupMayReadWrite && !device.inGroup) {
    problem.fixes.push_back("sudo usermod -aG " + device.group +
                            " $USER   # then log out and in again");
  } else if (device.groupMayReadWrite) {
    problem.what +=
        "; this user is in group " + device.group + " but something else refuses the open";
  }
  if (host.ignoreRuleFile.empty()) {
    problem.fixes.push_back(kInstallRule);
  } else if (problem.fixes.empty()) {
    problem.what += "; " + host.ignoreRuleFile +
                    " gives access only to the user at the machine's seat, not over ssh";
  }
  return problem;
}

PreflightProblem busyProblem(const DeviceFacts& device, const HostFacts& host) {
  const std::vector<ProcessHolding> holders = inTheWay(device.holders);
  if (holders.empty()) {
    return {
        "another program holds it for itself",
        {"sudo fuser -v " + device.path + "   # names the program: close it, then check again"}};
  }
  if (const ProcessHolding* flashing = flashingHolder(holders)) {
    return {"it is being flashed by " + holderName(*flashing),
            {"wait for it to end, then check again   # stopping it would leave the device "
             "half written"}};
  }
  PreflightProblem problem{"held by " + holderList(holders), {}};
  if (device.access == NodeAccess::InUse) {
    problem.what += ", which has it open without a lock and would take the device's answers";
  }
  if (heldByModemManager(holders)) {
    problem.what += ", which probes new USB ports for a few seconds after they appear";
    problem.fixes.push_back(host.ignoreRuleFile.empty() ? kInstallRule : kApplyRule);
  } else {
    problem.fixes.push_back("kill " + std::to_string(holders.front().pid) + "   # or close " +
                            printable(holders.front().command));
  }
  return problem;
}

// ModemManager only probes USB ports, and leaves alone those udev marked.
bool modemManagerMayProbe(const DeviceFacts& device, const HostFacts& host) {
  if (!host.modemManagerRunning || !device.usb.known()) return false;
  if (device.modemManagerIgnores == Knowledge::Yes) return false;
  return device.modemManagerIgnores == Knowledge::No || host.ignoreRuleFile.empty();
}

PreflightProblem modemManagerProblem(const HostFacts& host) {
  if (!host.ignoreRuleFile.empty()) {
    return {
        "ModemManager is running and udev has not marked this port for it to ignore, although " +
            host.ignoreRuleFile + " is installed",
        {kApplyRule}};
  }
  return {
      "ModemManager is running without the rule that keeps it off this port: it may open "
      "the port and send it modem commands when the device is plugged in",
      {kInstallRule, "sudo systemctl disable --now ModemManager   # where no modem needs it"}};
}

std::string deviceHeading(const DeviceFacts& device) {
  if (!device.usb.known()) return device.path;
  std::string details;
  const auto add = [&details](const char* label, const std::string& value) {
    if (value.empty()) return;
    if (!details.empty()) details += ", ";
    details += label + printable(value);
  };
  add("USB ", device.usb.vidPid);
  add("serial ", device.usb.serial);
  add("at ", device.usb.usbPath);
  return device.path + " (" + details + ")";
}

void printDevice(std::FILE* out, const DeviceFacts& device,
                 const std::vector<PreflightProblem>& problems) {
  if (problems.empty()) {
    std::fprintf(out, "%s: ready\n", deviceHeading(device).c_str());
    return;
  }
  std::fprintf(out, "%s: not ready\n", deviceHeading(device).c_str());
  for (const PreflightProblem& problem : problems) {
    std::fprintf(out, "  - %s\n", problem.what.c_str());
    for (std::size_t i = 0; i < problem.fixes.size(); ++i) {
      std::fprintf(out, "    %s %s\n", i == 0 ? "fix:" : "or: ", problem.fixes[i].c_str());
    }
  }
}

// One device as one JSON object on one line; no device at all has a null port.
std::string preflightJson(const DeviceFacts* device, int exitCode,
                          const std::vector<PreflightProblem>& problems) {
  JsonDocument json;
  json["port"] = device != nullptr ? JsonDocument(device->path) : JsonDocument();
  json["ready"] = problems.empty();
  json["exit_code"] = exitCode;
  json["usb"] = device != nullptr && device->usb.known() ? usbJson(device->usb) : JsonDocument();
  json["problems"] = JsonDocument::array();
  for (const PreflightProblem& problem : problems) {
    JsonDocument entry;
    entry["what"] = problem.what;
    entry["fixes"] = JsonDocument::array();
    for (const std::string& fix : problem.fixes) entry["fixes"].push_back(fix);
    json["problems"].push_back(std::move(entry));
  }
  return jsonLine(json);
}

}  // namespace

std::vector<PreflightProblem> preflightProblems(const DeviceFacts& device, const HostFacts& host) {
  std::vector<PreflightProblem> problems;
  switch (device.access) {
    case NodeAccess::Ready:
      break;
    case NodeAccess::Missing:
      return {{"no such device", {platformExamples().listAttachedPorts}}};
    case NodeAccess::NotATerminal:
      return {{"not a serial port", {platformExamples().listPortsToNameOne}}};
    case NodeAccess::PermissionDenied:
      problems.push_back(permissionProblem(device, host));
      break;
    case NodeAccess::Busy:
    case NodeAccess::InUse:
      problems.push_back(busyProblem(device, host));
      break;
    case NodeAccess::Failed:
      problems.push_back({"it does not open: " + device.systemMessage, {}});
      break;
  }
  // Held by ModemManager already: the busy problem names the same fix.
  if (modemManagerMayProbe(device, host) && !heldByModemManager(device.holders)) {
    problems.push_back(modemManagerProblem(host));
  }
  if (device.latencyTimerMs > 1) {
    problems.push_back(
        {"its USB serial adapter waits " + std::to_string(device.latencyTimerMs) +
             " ms (latency timer) before passing on each answer, which multiplies the "
             "download's time",
         {"echo 1 | sudo tee " + device.latencyTimerPath +
          "   # lasts until the adapter is plugged in again"}});
  }
  return problems;
}

int runPreflight(const std::vector<std::string>& devicePaths, std::FILE* out, bool json) {
  return runPreflight(devicePaths, out, PreflightRoots{}, json);
}

int runPreflight(const std::vector<std::string>& devicePaths, std::FILE* out,
                 const PreflightRoots& roots, bool json) {
  if (devicePaths.empty()) {
    const PreflightProblem none{"no device found",
                                {"plug the device in, or name it with --port DEVICE"}};
    if (json) {
      std::fprintf(out, "%s\n", preflightJson(nullptr, kExitNoDevice, {none}).c_str());
    } else {
      std::fprintf(out, "%s: %s\n", none.what.c_str(), none.fixes.front().c_str());
    }
    return kExitNoDevice;
  }
  const HostFacts host = probeHost(roots);
  int exitCode = kExitOk;
  std::size_t ready = 0;
  for (const std::string& path : devicePaths) {
    const DeviceFacts device = probeDevice(path, roots);
    const std::vector<PreflightProblem> problems = preflightProblems(device, host);
    int deviceCode = kExitOk;
    if (problems.empty()) {
      ++ready;
    } else {
      deviceCode = device.access == NodeAccess::Missing ? kExitNoDevice : kExitPortUnavailable;
      if (exitCode == kExitOk) exitCode = deviceCode;
    }
    if (json) {
      std::fprintf(out, "%s\n", preflightJson(&device, deviceCode, problems).c_str());
    } else {
      printDevice(out, device, problems);
    }
  }
  if (!json) {
    std::fprintf(out, "%zu of %zu device%s ready\n", ready, devicePaths.size(),
                 devicePaths.size() == 1 ? "" : "s");
  }
  return exitCode;
}

}  // namespace voltrix::cli

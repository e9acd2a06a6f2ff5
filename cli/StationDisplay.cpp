#include "cli/StationDisplay.h"

#include <algorithm>
#include <sstream>

#include "cli/ConsoleDisplay.h"

namespace voltrix::cli {

namespace {

std::string padded(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string prefixOf(const StationLine& device) {
  return (device.port.empty() ? device.name : device.port) + ": ";
}

// "PASS (exit 0)" or "FAIL (exit 9)" once the device is through; empty
// before, and while its port waits to be tried again.
std::string verdictOf(const StationLine& device) {
  if (!device.finished || !device.waitingNote.empty()) return {};
  return std::string(device.passed ? "PASS" : "FAIL") + " (exit " +
         std::to_string(device.exitCode) + ")";
}

}  // namespace

std::string StationDisplay::lineOf(const StationLine& device, std::size_t nameWidth,
                                   std::size_t portWidth) const {
  constexpr int kBarWidth = 20;
  const int filled = device.progress.percent * kBarWidth / 100;
  std::string line = padded(device.name, nameWidth);
  line.append("  ");
  line.append(padded(device.port, portWidth));
  char figures[64];
  std::snprintf(figures, sizeof figures, "  %3d/%-3d ", device.progress.segment,
                device.progress.segmentCount);
  line.append(figures);
  // Appended piece by piece: GCC 12 at -O3 warns falsely about a chain of
  // string additions.
  line.append(1, '[');
  line.append(static_cast<std::size_t>(filled), '#');
  line.append(static_cast<std::size_t>(kBarWidth - filled), '.');
  line.append("] ");
  std::snprintf(figures, sizeof figures, "%8llu B  ",
                static_cast<unsigned long long>(device.progress.bytesVerified));
  line.append(figures);
  // The verdict stays in sight: the status text is cut first.
  std::string verdict = verdictOf(device);
  if (!verdict.empty()) verdict.insert(0, "  ");
  const int room = columns_ - 1 - static_cast<int>(verdict.size());
  return fitToColumns(fitToColumns(line + statusOf(device), std::max(room, 0)) + verdict,
                      columns_ - 1);
}

std::string StationDisplay::statusOf(const StationLine& device) {
  return device.waitingNote.empty() ? device.progress.statusText : device.waitingNote;
}

void StationDisplay::clearBlock() {
  if (linesDrawn_ > 0) std::fprintf(out_, "\033[%dA\r\033[J", linesDrawn_);
  linesDrawn_ = 0;
}

void StationDisplay::show(const std::vector<StationLine>& devices, const std::string& waiting) {
  if (out_ == nullptr) return;
  if (columns_ <= 0) {
    lastPrinted_.resize(std::max(lastPrinted_.size(), devices.size()));
    for (std::size_t i = 0; i < devices.size(); ++i) {
      const StationLine& device = devices[i];
      std::string text = device.progress.statusText;
      // Once a device is through, its verdict is its last line.
      const std::string verdict = verdictOf(device);
      if (!verdict.empty()) text = verdict;
      if (text.empty() || text == lastPrinted_[i]) continue;
      if (!verdict.empty() && !device.progress.statusText.empty() &&
          lastPrinted_[i] != device.progress.statusText) {
        // The status text that came with the end goes first.
        std::fprintf(out_, "%s%s\n", prefixOf(device).c_str(), device.progress.statusText.c_str());
      }
      lastPrinted_[i] = text;
      std::fprintf(out_, "%s%s\n", prefixOf(device).c_str(), text.c_str());
    }
    if (!waiting.empty() && waiting != lastWaiting_) std::fprintf(out_, "%s\n", waiting.c_str());
    lastWaiting_ = waiting;
    std::fflush(out_);
    return;
  }
  std::size_t nameWidth = 0;
  std::size_t portWidth = 0;
  for (const StationLine& device : devices) {
    nameWidth = std::max(nameWidth, device.name.size());
    portWidth = std::max(portWidth, device.port.size());
  }
  std::string block;
  if (linesDrawn_ > 0) block = "\033[" + std::to_string(linesDrawn_) + "A";
  for (const StationLine& device : devices) {
    // The last column stays free: some terminals wrap as soon as it is written.
    block.append("\r");
    block.append(lineOf(device, nameWidth, portWidth));
    block.append("\033[K\n");
  }
  if (!waiting.empty()) {
    block.append("\r");
    block.append(fitToColumns(waiting, columns_ - 1));
    block.append("\033[K\n");
  }
  // A waiting line that went leaves its row empty below the block.
  if (waiting.empty() && !lastWaiting_.empty()) block.append("\r\033[K");
  lastWaiting_ = waiting;
  std::fputs(block.c_str(), out_);
  std::fflush(out_);
  linesDrawn_ = static_cast<int>(devices.size()) + (waiting.empty() ? 0 : 1);
}

void StationDisplay::note(const StationLine& device, const std::string& text) {
  if (out_ == nullptr) return;
  clearBlock();
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::fprintf(out_, "%s%s\n", prefixOf(device).c_str(), line.c_str());
  }
  std::fflush(out_);
}

void StationDisplay::note(const std::string& text) {
  if (out_ == nullptr) return;
  clearBlock();
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
}

}  // namespace voltrix::cli

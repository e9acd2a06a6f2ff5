#include "cli/ConsoleDisplay.h"

#include <algorithm>

namespace voltrix::cli {

std::string fitToColumns(const std::string& text, int columns) {
  int used = 0;
  std::size_t end = 0;
  while (end < text.size()) {
    const auto lead = static_cast<unsigned char>(text[end]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    // Three bytes or more count as two columns (CJK): never too few.
    const int width = length >= 3 ? 2 : 1;
    if (used + width > columns || end + length > text.size()) break;
    used += width;
    end += length;
  }
  return text.substr(0, end);
}

void ConsoleDisplay::show(const std::string& statusText, const RunProgress& progress) {
  if (out_ == nullptr) return;
  if (columns_ > 0) {
    drawInteractive(statusText, progress);
    return;
  }
  // The handshake repeats its waiting text at every attempt: print it once.
  if (statusText == lastPrinted_) return;
  lastPrinted_ = statusText;
  std::fprintf(out_, "%s\n", lastPrinted_.c_str());
  std::fflush(out_);
}

void ConsoleDisplay::drawInteractive(const std::string& statusText, const RunProgress& progress) {
  // The last column stays free: some terminals wrap as soon as it is written.
  const int room = columns_ - 1;
  const int barWidth = std::clamp((room - 8) / 3, 0, 30);
  std::string line;
  if (barWidth >= 5) {
    const int filled = progress.percent() * barWidth / 100;
    // Appended piece by piece: GCC 12 at -O3 warns falsely about a chain of
    // string additions.
    line.append(1, '[');
    line.append(static_cast<std::size_t>(filled), '#');
    line.append(static_cast<std::size_t>(barWidth - filled), '.');
    line.append("] ");
  }
  char figures[64];
  std::snprintf(figures, sizeof figures, "%3d%%  ", progress.percent());
  line += figures;
  if (progress.segment() > 0) {
    std::snprintf(figures, sizeof figures, "%d/%d 0x%08X  ", progress.segment(),
                  progress.segmentCount(), static_cast<unsigned>(progress.address()));
    line += figures;
  }
  line += statusText;
  // Clear to the end of the line: the new text may be shorter than the old.
  std::fprintf(out_, "\r%s\033[K", fitToColumns(line, room).c_str());
  std::fflush(out_);
  lineOpen_ = true;
}

void ConsoleDisplay::finish() {
  if (out_ == nullptr) return;
  if (lineOpen_) std::fputc('\n', out_);
  lineOpen_ = false;
  std::fflush(out_);
}

void ConsoleDisplay::note(const std::string& text) {
  if (out_ == nullptr) return;
  finish();
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
}

}  // namespace voltrix::cli

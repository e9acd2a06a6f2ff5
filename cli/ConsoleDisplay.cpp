#include "cli/ConsoleDisplay.h"

namespace voltrix::cli {

void ConsoleDisplay::show(const WorkerMessage& message, DownloadState& state, std::time_t now) {
  display_.apply(message, state, now);
  if (interactive_) {
    drawInteractive();
    return;
  }
  // The handshake repeats its waiting text at every attempt: print it once.
  if (display_.statusText() == lastPrinted_) return;
  lastPrinted_ = display_.statusText();
  std::fprintf(out_, "%s\n", lastPrinted_.c_str());
  std::fflush(out_);
}

void ConsoleDisplay::drawInteractive() {
  constexpr int kWidth = 30;
  const int filled = display_.progressPosition() * kWidth / 100;
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kWidth - filled), '.');
  // Clear to the end of the line: the new text may be shorter than the old.
  std::fprintf(out_, "\r[%s] %3d%%  %s\033[K", bar.c_str(), display_.progressPosition(),
               display_.statusText().c_str());
  std::fflush(out_);
  lineOpen_ = true;
}

void ConsoleDisplay::finish() {
  if (lineOpen_) std::fputc('\n', out_);
  lineOpen_ = false;
  std::fflush(out_);
}

void ConsoleDisplay::note(const std::string& text) {
  finish();
  std::fprintf(out_, "%s\n", text.c_str());
  std::fflush(out_);
}

}  // namespace voltrix::cli

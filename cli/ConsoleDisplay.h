#pragma once
// Shows a run on the console with the dialog's own status texts: on a
// terminal one line that is rewritten in place, with one progress bar over
// the whole image, the overall percentage, the segment under way and its
// address, never wider than the terminal (a wrapped line could not be
// rewritten); into a pipe or file one plain line per change of the status
// text.

#include <cstdio>
#include <ctime>
#include <string>

#include "control/StatusDisplay.h"
#include "control/RunProgress.h"

namespace voltrix::cli {

// The longest start of the UTF-8 `text` that fits `columns` terminal
// columns, counting a CJK character as two.
std::string fitToColumns(const std::string& text, int columns);

class ConsoleDisplay {
 public:
  // `columns`: the terminal's width when the line is redrawn in place, 0 for
  // plain lines. A null `out` shows nothing and only follows the run.
  ConsoleDisplay(std::FILE* out, int columns) : out_(out), columns_(columns) {}
  ~ConsoleDisplay() { finish(); }

  void show(const WorkerMessage& message, DownloadState& state, std::time_t now);
  // Ends the rewritten line so what follows starts on a line of its own.
  void finish();
  // Prints a line of its own (a message box, a hint).
  void note(const std::string& text);
  // The status text as the dialog would show it now.
  const std::string& statusText() const { return display_.statusText(); }

 private:
  void drawInteractive();

  std::FILE* out_;
  int columns_;
  StatusDisplay display_;
  RunProgress progress_;
  std::string lastPrinted_;
  bool lineOpen_ = false;
};

}  // namespace voltrix::cli

#pragma once
// Shows a run on the console with the dialog's own status texts: on a
// terminal one line that is rewritten in place, with one progress bar over
// the whole image, the overall percentage, the segment under way and its
// address, never wider than the terminal (a wrapped line could not be
// rewritten); into a pipe or file one plain line per change of the status
// text.

#include <cstdio>
#include <string>

#include "control/RunProgress.h"

namespace voltrix::cli {

// The longest start of the UTF-8 `text` that fits `columns` terminal
// columns, counting a CJK character as two.
std::string fitToColumns(const std::string& text, int columns);

class ConsoleDisplay {
 public:
  // `columns`: the terminal's width when the line is redrawn in place, 0 for
  // plain lines. A null `out` shows nothing.
  ConsoleDisplay(std::FILE* out, int columns) : out_(out), columns_(columns) {}
  ~ConsoleDisplay() { finish(); }

  // Shows the run as it stands: the dialog's status text, and where the run
  // is over the whole image.
  void show(const std::string& statusText, const RunProgress& progress);
  // Ends the rewritten line so what follows starts on a line of its own.
  void finish();
  // Prints a line of its own (a message box, a hint).
  void note(const std::string& text);

 private:
  void drawInteractive(const std::string& statusText, const RunProgress& progress);

  std::FILE* out_;
  int columns_;
  std::string lastPrinted_;
  bool lineOpen_ = false;
};

}  // namespace voltrix::cli

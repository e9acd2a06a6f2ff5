#pragma once
// Shows a run on the console with the dialog's own status texts: on a
// terminal one line that is rewritten in place, with a progress bar; into a
// pipe or file one plain line per change of the status text.

#include <cstdio>
#include <ctime>
#include <string>

#include "app/StatusDisplay.h"

namespace voltrix::cli {

class ConsoleDisplay {
 public:
  ConsoleDisplay(std::FILE* out, bool interactive) : out_(out), interactive_(interactive) {}
  ~ConsoleDisplay() { finish(); }

  void show(const WorkerMessage& message, DownloadState& state, std::time_t now);
  // Ends the rewritten line so what follows starts on a line of its own.
  void finish();
  // Prints a line of its own (a message box, a hint).
  void note(const std::string& text);

 private:
  void drawInteractive();

  std::FILE* out_;
  bool interactive_;
  StatusDisplay display_;
  std::string lastPrinted_;
  bool lineOpen_ = false;
};

}  // namespace voltrix::cli

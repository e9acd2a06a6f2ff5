#pragma once
// What the operator sees of a run: one status line and a 0..100 progress bar
// with a step of 10, changed by each worker message. Toolkit-free, so the
// dialog and the CLI show the same texts.

#include <ctime>
#include <string>

#include "engine/DownloadState.h"
#include "engine/WorkerMessages.h"

namespace voltrix {

class StatusDisplay {
 public:
  // Applies one message as the dialog does, with `now` as the current
  // calendar time in seconds. Reads currentAddress and imageName of `state`
  // and writes its startTime and endTime.
  void apply(const WorkerMessage& message, DownloadState& state, std::time_t now);

  const std::string& statusText() const { return statusText_; }
  int progressPosition() const { return progress_; }
  // Whether the last message changed the status line.
  bool textChanged() const { return textChanged_; }

 private:
  void setStatus(std::string text);
  void setProgress(unsigned position);
  void stepProgress();

  std::string statusText_;
  int progress_ = 0;
  bool textChanged_ = false;
};

// "mm:ss" parts of an elapsed time: minutes wrap at 60, hours are dropped.
int elapsedMinutes(long seconds);
int elapsedSeconds(long seconds);

}  // namespace voltrix

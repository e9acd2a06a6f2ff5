#pragma once
// Shows a station run as it goes. On a terminal: one line per device (slot,
// port, segment, one bar over its whole image, bytes, status; a finished one
// ends with PASS or FAIL and its exit code), then the line that says the
// station waits for more devices, the block redrawn in place, each line cut
// to the terminal's width so that none wraps; a note scrolls up above the
// block. Into a pipe or file: one line per change of a device's status text,
// prefixed with its port, so the lines of devices side by side can be told
// apart and filtered, and the waiting line whenever it changes.

#include <cstdio>
#include <string>
#include <vector>

#include "station/StationObserver.h"

namespace voltrix::cli {

// What one device's line shows, as the station's events told it.
struct StationLine {
  std::string name;  // the slot's name, or the port where there is none
  std::string port;
  DeviceProgress progress;
  // What the line shows instead of the status text while the port waits to
  // be tried again; empty otherwise.
  std::string waitingNote;
  // Once the device is through: whether it verified, and its exit code.
  bool finished = false;
  bool passed = false;
  int exitCode = 0;
};

class StationDisplay {
 public:
  // `columns`: the terminal's width to redraw in place, 0 for plain lines.
  // A null `out` shows nothing.
  StationDisplay(std::FILE* out, int columns) : out_(out), columns_(columns) {}

  // Shows the devices as they are now, and `waiting` (empty when the
  // station waits for no more devices).
  void show(const std::vector<StationLine>& devices, const std::string& waiting);
  // A line of its own about one device (a hint, the kept files).
  void note(const StationLine& device, const std::string& text);
  // A line of its own about the station.
  void note(const std::string& text);
  bool redrawsInPlace() const { return out_ != nullptr && columns_ > 0; }
  // Leaves the block where it stands, so what follows comes below it.
  void finish() { linesDrawn_ = 0; }

 private:
  void clearBlock();
  std::string lineOf(const StationLine& device, std::size_t nameWidth, std::size_t portWidth) const;
  // The text a device's line ends with: its status, what it waits for, or
  // its verdict.
  static std::string statusOf(const StationLine& device);

  std::FILE* out_;
  int columns_;
  int linesDrawn_ = 0;
  // The status text printed last for each line, by its place.
  std::vector<std::string> lastPrinted_;
  std::string lastWaiting_;
};

}  // namespace voltrix::cli

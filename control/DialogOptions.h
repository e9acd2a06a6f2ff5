#pragma once
// The command line of the dialog: voltrix [FOLDER | FILE]. A folder stands
// for the sysbin.bin in it, a file is the image itself; without either the
// dialog takes sysbin.bin of the working directory, as it always did (on
// Windows, started in its own program folder, it works in Documents\Voltrix:
// see WorkFolder.h).

#include <optional>
#include <string>
#include <vector>

namespace voltrix {

struct DialogOptions {
  enum class Action { Run, Help, Version } action = Action::Run;
  std::string imagePath = "sysbin.bin";
  // Whether the line named a folder or an image; without one the dialog
  // decides where it works.
  bool imageNamed = false;
};

struct ParsedDialogOptions {
  std::optional<DialogOptions> options;  // empty on a usage error
  std::string error;
};

// `arguments` without the program's name.
ParsedDialogOptions parseDialogOptions(const std::vector<std::string>& arguments);

std::string dialogUsage();

// Help and the version need no window: printed on standard output, with the
// exit status to end with; empty when the dialog is to open.
std::optional<int> answerWithoutDialog(const DialogOptions& options);

}  // namespace voltrix

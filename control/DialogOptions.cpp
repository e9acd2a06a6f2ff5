#include "control/DialogOptions.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/CommandLine.h"
#include "platform/Utf8Path.h"
#include "voltrix/Version.h"

namespace voltrix {

ParsedDialogOptions parseDialogOptions(const std::vector<std::string>& arguments) {
  CLI::App app;
  prepareCommandLine(app);
  bool help = false;
  bool version = false;
  std::optional<std::string> target;
  app.add_flag("-h,--help", help)->disable_flag_override();
  app.add_flag("-V,--version", version)->disable_flag_override();
  app.add_option("target", target);
  const std::string error = parseCommandLine(app, arguments);
  DialogOptions options;
  // Asked for help, the dialog gives it whatever else the line holds.
  if (help || version) {
    options.action = help ? DialogOptions::Action::Help : DialogOptions::Action::Version;
    return {options, {}};
  }
  if (!error.empty()) return {std::nullopt, error};
  if (target) {
    if (target->empty()) return {std::nullopt, "an empty name is no folder or image"};
    options.imageNamed = true;
    std::error_code notThere;
    const std::filesystem::path path = pathFromUtf8(*target);
    options.imagePath =
        std::filesystem::is_directory(path, notThere) ? utf8FromPath(path / "sysbin.bin") : *target;
  }
  return {options, {}};
}

std::string dialogUsage() {
  return "Usage: voltrix [FOLDER | FILE]\n"
         "The operator's dialog: writes a firmware image into a Zetak device, reads it\n"
         "back and verifies it when DOWNLOAD is pressed.\n"
         "\n"
         "  FOLDER         the folder whose sysbin.bin is written\n"
         "  FILE           the image to write\n"
         "                 (without either: sysbin.bin of the working directory)\n"
         "  -h, --help     show this help\n"
         "  -V, --version  show the version\n"
         "\n"
         "The toolkit's own options (-platform, -display, ...) are taken as well.\n";
}

std::optional<int> answerWithoutDialog(const DialogOptions& options) {
  switch (options.action) {
    case DialogOptions::Action::Help:
      std::fputs(dialogUsage().c_str(), stdout);
      return 0;
    case DialogOptions::Action::Version:
      std::printf("voltrix %s\n", kVoltrixVersion);
      return 0;
    case DialogOptions::Action::Run:
      break;
  }
  return std::nullopt;
}

}  // namespace voltrix

#include <cstdio>
#include <cstring>
#include <string>

#include "cli/ExitCodes.h"
#include "cli/ListCommand.h"
#include "engine/SystemTexts.h"

namespace {

void printUsage(std::FILE* out) {
  std::fprintf(out,
               "Usage: voltrix-cli [OPTION]...\n"
               "Write the firmware image sysbin.bin of the working directory into a Zetak "
               "device.\n\n"
               "  --list [FILE]   list the segments of an image (default sysbin.bin)\n"
               "  --help          show this help\n"
               "  --version       show the version\n");
}

}  // namespace

int main(int argc, char** argv) {
  using namespace voltrix::cli;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      printUsage(stdout);
      return kExitOk;
    }
    if (arg == "--version") {
      std::printf("voltrix-cli 1.0.0.1\n");
      return kExitOk;
    }
    if (arg == "--list") {
      const std::string file = i + 1 < argc ? argv[i + 1] : voltrix::texts::kImageFileName;
      return listSegments(file, stdout, stderr);
    }
    std::fprintf(stderr, "voltrix-cli: unknown option '%s'\n", argv[i]);
    printUsage(stderr);
    return kExitUsage;
  }
  printUsage(stderr);
  return kExitUsage;
}

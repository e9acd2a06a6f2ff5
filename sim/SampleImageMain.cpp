// zetak-sample-image [FILE]: writes a small multi-segment system image for
// the demo and for trying the tool without a real firmware file.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/CommandLine.h"
#include "sim/ImageBuilder.h"
#include "voltrix/Version.h"

namespace {

constexpr char kUsage[] =
    "Usage: zetak-sample-image [FILE]\n"
    "Writes a small system image of six segments to FILE (default sysbin.bin),\n"
    "replacing what stands there: something to flash into zetak-sim.\n"
    "\n"
    "  -h, --help     show this text\n"
    "  -V, --version  show the version\n";

}  // namespace

int main(int argc, char** argv) {
  CLI::App app;
  voltrix::prepareCommandLine(app);
  bool help = false;
  bool version = false;
  std::optional<std::string> file;
  app.add_flag("-h,--help", help)->disable_flag_override();
  app.add_flag("-V,--version", version)->disable_flag_override();
  app.add_option("file", file);
  // Only a word that is no option names the file: a mistyped option must
  // never become a file of its name.
  const std::string error = voltrix::parseCommandLine(
      app, std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
  if (help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (version) {
    std::printf("zetak-sample-image %s\n", voltrix::kVoltrixVersion);
    return 0;
  }
  if (!error.empty() || (file && file->empty())) {
    std::fprintf(stderr, "zetak-sample-image: %s\nTry 'zetak-sample-image --help'.\n",
                 error.empty() ? "FILE must not be empty" : error.c_str());
    return 2;
  }
  const std::string target = file.value_or("sysbin.bin");
  if (!voltrix::writeImageFile(target, voltrix::sampleImage())) {
    std::perror(target.c_str());
    return 1;
  }
  return 0;
}

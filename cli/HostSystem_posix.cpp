#include <dirent.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "cli/HostSystem.h"

namespace voltrix::cli {

namespace {

// Closes the directory on every path.
struct DirectoryCloser {
  void operator()(DIR* directory) const { ::closedir(directory); }
};

}  // namespace

// A POSIX terminal takes the bytes as they are; its locale decides the rest.
void prepareStandardOutput() {}

int redrawableTerminalColumns() {
  // The run is shown on standard error; standard output holds the results.
  if (::isatty(STDERR_FILENO) != 1) return 0;
  const char* terminal = std::getenv("TERM");
  if (terminal == nullptr || *terminal == '\0' || std::strcmp(terminal, "dumb") == 0) return 0;
  winsize size{};
  // A terminal that does not tell its width is taken as the usual 80.
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
  return size.ws_col;
}

bool modemManagerRunning() {
  const std::unique_ptr<DIR, DirectoryCloser> proc(::opendir("/proc"));
  if (!proc) return false;
  while (const dirent* entry = ::readdir(proc.get())) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    std::ifstream comm(std::string("/proc/") + entry->d_name + "/comm");
    std::string name;
    if (std::getline(comm, name) && name == "ModemManager") return true;
  }
  return false;
}

// A terminal's window belongs to its shell, which stays.
void holdOwnConsoleWindowOpen() {}

}  // namespace voltrix::cli

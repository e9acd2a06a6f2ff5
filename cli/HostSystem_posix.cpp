#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "cli/HostSystem.h"

namespace voltrix::cli {

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

// A terminal's window belongs to its shell, which stays.
void holdOwnConsoleWindowOpen() {}

}  // namespace voltrix::cli

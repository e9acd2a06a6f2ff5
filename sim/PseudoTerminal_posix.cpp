#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>

#include <cerrno>

#include "platform/TermiosSpeed_posix.h"
#include "sim/PseudoTerminal.h"

namespace voltrix::sim {

namespace {

bool makeRaw(int fd, std::uint32_t baudRate) {
  termios settings{};
  if (::tcgetattr(fd, &settings) != 0) return false;
  ::cfmakeraw(&settings);
  settings.c_cflag |= CLOCAL | CREAD;
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  // A pseudo-terminal ignores the speed; it is set only so that the device
  // side reports the line's nominal rate.
  if (const auto speed = speedConstant(baudRate)) ::cfsetspeed(&settings, *speed);
  return ::tcsetattr(fd, TCSANOW, &settings) == 0;
}

bool fail(PseudoTerminal& terminal) {
  const int error = errno;
  terminal.slave.reset();
  terminal.master.reset();
  terminal.slavePath.clear();
  errno = error;
  return false;
}

}  // namespace

bool openPseudoTerminal(std::uint32_t baudRate, PseudoTerminal& terminal) {
  terminal.master.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!terminal.master) return fail(terminal);
  const int master = terminal.master.get();
  if (::grantpt(master) != 0 || ::unlockpt(master) != 0) return fail(terminal);

  char path[128];
  if (const int error = ::ptsname_r(master, path, sizeof path); error != 0) {
    errno = error;
    return fail(terminal);
  }
  terminal.slavePath = path;

  terminal.slave.reset(::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!terminal.slave) return fail(terminal);
  // Raw at once: nothing the host sends before it configures the port may be
  // echoed back to it.
  if (!makeRaw(terminal.slave.get(), baudRate) || !makeRaw(master, baudRate)) {
    return fail(terminal);
  }

  const int flags = ::fcntl(master, F_GETFL);
  if (flags < 0 || ::fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0) return fail(terminal);
  return true;
}

}  // namespace voltrix::sim

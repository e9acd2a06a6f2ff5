// The command-line front end's view of a Windows console.

#include <windows.h>
// After windows.h: the C runtime's descriptors and their modes.
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "cli/ConsoleRelay_win32.h"
#include "cli/HostSystem.h"
#include "cli/OwnConsole.h"

namespace voltrix::cli {

namespace {

// The console behind standard output or error; null for a pipe, a file or
// none.
HANDLE consoleOf(DWORD stream) {
  const HANDLE output = ::GetStdHandle(stream);
  DWORD mode = 0;
  if (output == nullptr || output == INVALID_HANDLE_VALUE || !::GetConsoleMode(output, &mode)) {
    return nullptr;
  }
  return output;
}

// A console's code page and mode outlive the program: whatever we change is
// put back when the program ends, so that the shell after us finds its
// console as it left it.
class ConsoleSettings {
 public:
  static ConsoleSettings& ofThisProgram() {
    static ConsoleSettings settings;
    return settings;
  }
  ~ConsoleSettings() {
    if (codePageChanged_) ::SetConsoleOutputCP(originalCodePage_);
    if (modeChanged_) ::SetConsoleMode(modeConsole_, originalMode_);
  }
  ConsoleSettings(const ConsoleSettings&) = delete;
  ConsoleSettings& operator=(const ConsoleSettings&) = delete;

  void showUtf8() {
    const UINT current = ::GetConsoleOutputCP();
    if (current == CP_UTF8 || codePageChanged_) return;
    if (::SetConsoleOutputCP(CP_UTF8)) {
      originalCodePage_ = current;
      codePageChanged_ = true;
    }
  }

  // Whether `console` takes escape sequences, switching them on if needed.
  bool takeEscapes(HANDLE console) {
    DWORD mode = 0;
    if (!::GetConsoleMode(console, &mode)) return false;
    if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) return true;
    if (!::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) return false;
    if (!modeChanged_) {
      modeConsole_ = console;
      originalMode_ = mode;
      modeChanged_ = true;
    }
    return true;
  }

 private:
  ConsoleSettings() = default;

  bool codePageChanged_ = false;
  UINT originalCodePage_ = 0;
  bool modeChanged_ = false;
  HANDLE modeConsole_ = nullptr;
  DWORD originalMode_ = 0;
};

}  // namespace

void prepareStandardOutput() {
  // The texts are UTF-8 whatever the console's own code page; a file gets
  // them unchanged whatever the console shows.
  const HANDLE outputConsole = consoleOf(STD_OUTPUT_HANDLE);
  const HANDLE errorConsole = consoleOf(STD_ERROR_HANDLE);
  if (outputConsole != nullptr || errorConsole != nullptr) {
    ConsoleSettings::ofThisProgram().showUtf8();
  }
  // Text mode would add a CR before every LF written to a file or a pipe.
  std::fflush(stdout);
  std::fflush(stderr);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  // Even in UTF-8 the console breaks a character that the runtime writes
  // byte by byte: it gets whole characters through the relay.
  if (outputConsole != nullptr || errorConsole != nullptr) {
    relayToConsole(outputConsole != nullptr, errorConsole != nullptr);
  }
}

int redrawableTerminalColumns() {
  // The run is shown on standard error; standard output holds the results.
  const HANDLE console = consoleOf(STD_ERROR_HANDLE);
  if (console == nullptr) return 0;
  // The line is redrawn with an erase-to-end sequence: a console that cannot
  // take escape sequences (before Windows 10) gets plain lines instead.
  if (!ConsoleSettings::ofThisProgram().takeEscapes(console)) return 0;
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(console, &info)) return 80;
  const int columns = info.srWindow.Right - info.srWindow.Left + 1;
  return columns > 0 ? columns : 80;
}

void holdOwnConsoleWindowOpen() {
  DWORD processes[2] = {};
  const DWORD attached = ::GetConsoleProcessList(processes, 2);
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  const bool inputIsConsole =
      input != nullptr && input != INVALID_HANDLE_VALUE && ::GetConsoleMode(input, &mode);
  if (!waitsForKeyBeforeClosing(attached, inputIsConsole)) return;
  std::fflush(stdout);
  std::fputs("\nPress any key to close this window.\n", stderr);
  std::fflush(stderr);
  // Keys pressed during the run do not count.
  ::FlushConsoleInputBuffer(input);
  INPUT_RECORD record{};
  DWORD read = 0;
  while (::ReadConsoleInputW(input, &record, 1, &read) && read == 1) {
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return;
  }
}

}  // namespace voltrix::cli

#pragma once
// A console program started by a double-click gets a console window of its
// own, which closes the moment the program ends, taking the result with it.
// Such a program waits for a key first; one started from a prompt, or whose
// input is a pipe or a file, never does.

namespace voltrix::cli {

// Whether to wait for a key before ending: only when this program is the
// only one attached to its console (the prompt that started it would be a
// second) and a key can be read from that console.
constexpr bool waitsForKeyBeforeClosing(unsigned long consoleProcessCount, bool inputIsConsole) {
  return consoleProcessCount == 1 && inputIsConsole;
}

}  // namespace voltrix::cli

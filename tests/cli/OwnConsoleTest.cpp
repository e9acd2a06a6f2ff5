// Only a program alone on a console it can read a key from waits before its
// window closes: a double-click, not a prompt, a pipe or a file.

#include <gtest/gtest.h>

#include "cli/OwnConsole.h"

namespace voltrix::cli {
namespace {

TEST(OwnConsole, OnlyAProgramAloneOnAReadableConsoleWaitsForAKey) {
  struct Case {
    unsigned long processes;
    bool inputIsConsole;
    bool waits;
  };
  const Case cases[] = {
      {1, true, true},    // double-clicked in Explorer
      {2, true, false},   // started from cmd.exe or PowerShell
      {3, true, false},   // from a batch file run by a prompt
      {1, false, false},  // input from a pipe or a file
      {0, true, false},   // no console, or it could not be asked
      {0, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(waitsForKeyBeforeClosing(c.processes, c.inputIsConsole), c.waits)
        << c.processes << " processes, input a console: " << c.inputIsConsole;
  }
}

}  // namespace
}  // namespace voltrix::cli

// main()'s argv holds the command line in the ANSI code page, where every
// character outside it has already become '?'. The UTF-16 command line is
// the original; it is split by the shell's rules, which are the runtime's.

#include <windows.h>
// After windows.h: CommandLineToArgvW.
#include <shellapi.h>

#include <memory>

#include "platform/ProgramArguments.h"
#include "platform/WideText_win32.h"

namespace voltrix {

namespace {

struct LocalFreer {
  void operator()(LPWSTR* words) const { ::LocalFree(words); }
};

}  // namespace

std::vector<std::string> programArguments(int, const char* const*) {
  int count = 0;
  const std::unique_ptr<LPWSTR, LocalFreer> words(
      ::CommandLineToArgvW(::GetCommandLineW(), &count));
  std::vector<std::string> arguments;
  if (!words) return arguments;
  // The first word is the program's own name.
  for (int index = 1; index < count; ++index) arguments.push_back(narrow(words.get()[index]));
  return arguments;
}

}  // namespace voltrix

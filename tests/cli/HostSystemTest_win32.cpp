// Standard output on Windows when it is a file: the bytes printed arrive
// unchanged (UTF-8 texts as they are, no CR before a LF), and no line is
// redrawn in place.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>

#include <cstdio>

#include "cli/HostSystem.h"
#include "platform/ModemManager.h"
#include "tests/support/TempDir.h"

namespace voltrix::cli {
namespace {

TEST(WindowsOutput, AFileGetsTheBytesAsPrintedAndNoRedrawing) {
  test::TempDir dir;
  std::fflush(stdout);
  const int saved = _dup(_fileno(stdout));
  ASSERT_GE(saved, 0);
  // Opened in text mode, as a program's redirected output is.
  const int file =
      _open(dir.file("out.txt").c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_TEXT, 0600);
  ASSERT_GE(file, 0);
  ASSERT_EQ(_dup2(file, _fileno(stdout)), 0);
  _close(file);

  prepareStandardOutput();
  std::printf("%s\nline\n", "错误：注册表损坏！");
  std::fflush(stdout);
  const int columns = redrawableTerminalColumns();

  _dup2(saved, _fileno(stdout));
  _close(saved);
  EXPECT_EQ(columns, 0);
  EXPECT_EQ(test::readFileBytes(dir.file("out.txt")),
            std::string("错误：注册表损坏！") + "\nline\n");
  EXPECT_FALSE(voltrix::modemManagerRunning());
}

}  // namespace
}  // namespace voltrix::cli

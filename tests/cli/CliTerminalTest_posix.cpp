// voltrix-cli on a real (pseudo-)terminal: the progress line is redrawn in
// place only where the terminal understands it, and never wider than it.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>

#include "cli/ConsoleDisplay.h"
#include "tests/cli/CliFixture_posix.h"

namespace voltrix {
namespace {

using cli::fitToColumns;

// Runs voltrix-cli in `folder` with its output on a terminal `columns` wide;
// returns what the terminal received, or nullopt when it did not finish in
// time.
std::optional<std::string> runOnTerminal(const std::string& folder,
                                         const std::vector<std::string>& environment,
                                         unsigned short columns) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return std::nullopt;
  const std::string slaveName = ::ptsname(master);
  winsize size{};
  size.ws_row = 24;
  size.ws_col = columns;
  // Our own hold on the terminal keeps it open after the child has gone, so
  // that nothing it wrote is lost before we read it.
  const int ownSlave = ::open(slaveName.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  const pid_t child = ::fork();
  if (child == 0) {
    const int slave = ::open(slaveName.c_str(), O_RDWR);
    ::ioctl(slave, TIOCSWINSZ, &size);
    ::dup2(slave, STDOUT_FILENO);
    ::dup2(slave, STDERR_FILENO);
    if (::chdir(folder.c_str()) != 0) ::_exit(126);
    for (const std::string& setting : environment) ::putenv(const_cast<char*>(setting.c_str()));
    ::execl(VOLTRIX_CLI, VOLTRIX_CLI, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  std::string seen;
  const auto readWaiting = [&](int waitMs) {
    char buffer[4096];
    pollfd entry{master, POLLIN, 0};
    while (::poll(&entry, 1, waitMs) > 0) {
      const ssize_t got = ::read(master, buffer, sizeof buffer);
      if (got <= 0) return;
      seen.append(buffer, static_cast<std::size_t>(got));
      waitMs = 0;
    }
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  bool ended = false;
  while (!ended && std::chrono::steady_clock::now() < deadline) {
    readWaiting(50);
    ended = ::waitpid(child, nullptr, WNOHANG) == child;
  }
  if (!ended) {
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
  }
  readWaiting(0);
  ::close(ownSlave);
  ::close(master);
  if (!ended) return std::nullopt;
  return seen;
}

// Display columns of one redrawn piece of output, CJK counted as two.
int columnsOf(std::string piece) {
  for (std::size_t at; (at = piece.find("\033[K")) != std::string::npos;) piece.erase(at, 3);
  int columns = 0;
  for (const char c : piece) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80)
      columns += 1;  // ASCII
    else if (byte >= 0xE0)
      columns += 2;  // leads a three- or four-byte character
    else if (byte >= 0xC0)
      columns += 1;  // leads a two-byte character
  }
  return columns;
}

TEST_F(CliDownload, ANarrowTerminalGetsLinesThatFit) {
  startDevice();
  auto environment = this->environment();
  environment.push_back("TERM=xterm");
  const auto seen = runOnTerminal(dir.path(), environment, 30);
  ASSERT_TRUE(seen.has_value());
  EXPECT_TRUE(contains(*seen, "\033[K")) << *seen;
  std::size_t start = 0;
  while (start < seen->size()) {
    std::size_t end = seen->find_first_of("\r\n", start);
    if (end == std::string::npos) end = seen->size();
    const std::string piece = seen->substr(start, end - start);
    if (piece.find("\033[K") != std::string::npos) {
      EXPECT_LE(columnsOf(piece), 29) << piece;
    }
    start = end + 1;
  }
  expectDeviceHoldsImage();
}

TEST_F(CliDownload, TheLineShowsTheSegmentItsAddressAndOneBarOverTheImage) {
  startDevice();
  auto environment = this->environment();
  environment.push_back("TERM=xterm");
  const auto seen = runOnTerminal(dir.path(), environment, 120);
  ASSERT_TRUE(seen.has_value());
  // Each segment in turn, with its load address.
  for (const char* where : {"1/3 0x0000A400", "2/3 0x00008000", "3/3 0x00004100"}) {
    EXPECT_TRUE(contains(*seen, where)) << where << "\n" << *seen;
  }
  // The percentage is the whole image's: it never falls back when the next
  // segment starts, and reaches 100 once, at the end.
  int last = 0;
  int hundreds = 0;
  bool previousWasHundred = false;
  for (std::size_t at = seen->find("%  "); at != std::string::npos;
       at = seen->find("%  ", at + 1)) {
    std::size_t digits = at;
    while (digits > 0 && std::isdigit(static_cast<unsigned char>((*seen)[digits - 1]))) --digits;
    if (digits == at) continue;
    const int value = std::stoi(seen->substr(digits, at - digits));
    EXPECT_GE(value, last) << *seen;
    if (value == 100 && !previousWasHundred) ++hundreds;
    previousWasHundred = value == 100;
    last = value;
  }
  EXPECT_EQ(last, 100);
  EXPECT_EQ(hundreds, 1) << *seen;
}

TEST_F(CliDownload, ADumbTerminalGetsPlainLines) {
  startDevice();
  auto environment = this->environment();
  environment.push_back("TERM=dumb");
  const auto seen = runOnTerminal(dir.path(), environment, 80);
  ASSERT_TRUE(seen.has_value());
  EXPECT_EQ(seen->find('\033'), std::string::npos) << *seen;
  EXPECT_TRUE(contains(*seen, "Update successfully!")) << *seen;
}

TEST(FitToColumns, CountsChineseAsTwoAndNeverSplitsACharacter) {
  EXPECT_EQ(fitToColumns("DOWNLOAD", 4), "DOWN");
  EXPECT_EQ(fitToColumns("ERROR:x!  文件名[sysbin.bin]", 11), "ERROR:x!  ");
  EXPECT_EQ(fitToColumns("ERROR:x!  文件名[sysbin.bin]", 12), "ERROR:x!  文");
  EXPECT_EQ(fitToColumns("ERROR:x!  文件名[sysbin.bin]", 13), "ERROR:x!  文");
  EXPECT_EQ(fitToColumns("abc", 0), "");
  EXPECT_EQ(fitToColumns("abc", 10), "abc");
}

}  // namespace
}  // namespace voltrix

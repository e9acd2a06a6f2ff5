#include "cli/ConsoleRelay_win32.h"

// After windows.h: the C runtime's descriptors.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>

#include "platform/WideText_win32.h"

namespace voltrix::cli {

namespace {

// How many bytes at the end of `text` begin a character whose remaining
// bytes have not come yet.
std::size_t unfinishedTail(std::string_view text) {
  const std::size_t lookBack = std::min<std::size_t>(text.size(), 3);
  for (std::size_t back = 1; back <= lookBack; ++back) {
    const auto byte = static_cast<unsigned char>(text[text.size() - back]);
    if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    std::size_t length = 1;
    if (byte >= 0xF0) {
      length = 4;
    } else if (byte >= 0xE0) {
      length = 3;
    } else if (byte >= 0xC0) {
      length = 2;
    }
    return length > back ? back : 0;
  }
  return 0;
}

void writeToConsole(HANDLE console, std::string_view text) {
  const std::wstring wide = widen(text);
  std::size_t done = 0;
  while (done < wide.size()) {
    DWORD written = 0;
    const auto wanted = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 16384));
    if (!::WriteConsoleW(console, wide.data() + done, wanted, &written, nullptr) || written == 0) {
      return;  // the console is gone: nothing more can be shown
    }
    done += written;
  }
}

class ConsoleRelay {
 public:
  static ConsoleRelay& ofThisProgram() {
    static ConsoleRelay relay;
    return relay;
  }
  ~ConsoleRelay() { finish(); }
  ConsoleRelay(const ConsoleRelay&) = delete;
  ConsoleRelay& operator=(const ConsoleRelay&) = delete;

  bool start(bool output, bool error) {
    if (running_ || (!output && !error)) return false;
    // The runtime closes the handle of a descriptor it takes over: the relay
    // writes through a handle of its own, kept until the process ends
    // (the standard handles name it afterwards).
    const HANDLE console =
        ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE) return false;
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, nullptr, 0)) {
      ::CloseHandle(console);
      return false;
    }
    const int pipe = _open_osfhandle(reinterpret_cast<intptr_t>(writeEnd), _O_BINARY);
    if (pipe < 0) {
      ::CloseHandle(console);
      ::CloseHandle(readEnd);
      ::CloseHandle(writeEnd);
      return false;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    if (output) output_ = _dup2(pipe, _fileno(stdout)) == 0;
    if (error) error_ = _dup2(pipe, _fileno(stderr)) == 0;
    _close(pipe);
    // Taking over a descriptor set the system's standard handle to the pipe;
    // the rest of the program asks the console about its width and modes.
    if (output_) ::SetStdHandle(STD_OUTPUT_HANDLE, console);
    if (error_) ::SetStdHandle(STD_ERROR_HANDLE, console);
    // A pipe would be buffered until the end; the console showed each text as
    // it was printed, and the order of the two streams stays as printed.
    if (output_) std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (error_) std::setvbuf(stderr, nullptr, _IONBF, 0);
    console_ = console;
    readEnd_ = readEnd;
    running_ = true;
    thread_ = std::thread([this] { relay(); });
    return output_ || error_;
  }

  void finish() {
    if (!running_) return;
    running_ = false;
    std::fflush(stdout);
    std::fflush(stderr);
    // With the last writing end closed the thread reads the end of the pipe.
    if (output_) _close(_fileno(stdout));
    if (error_) _close(_fileno(stderr));
    thread_.join();
    ::CloseHandle(readEnd_);
  }

 private:
  ConsoleRelay() = default;

  void relay() {
    std::string pending;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(readEnd_, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      pending.append(buffer, got);
      const std::size_t whole = pending.size() - unfinishedTail(pending);
      writeToConsole(console_, std::string_view(pending).substr(0, whole));
      pending.erase(0, whole);
    }
    writeToConsole(console_, pending);
  }

  bool running_ = false;
  bool output_ = false;
  bool error_ = false;
  HANDLE console_ = nullptr;
  HANDLE readEnd_ = nullptr;
  std::thread thread_;
};

}  // namespace

bool relayToConsole(bool output, bool error) {
  return ConsoleRelay::ofThisProgram().start(output, error);
}

void finishConsoleRelay() {
  ConsoleRelay::ofThisProgram().finish();
}

}  // namespace voltrix::cli

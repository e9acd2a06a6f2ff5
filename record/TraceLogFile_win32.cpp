#include <windows.h>

#include "platform/WideText_win32.h"
#include "record/TraceLogFile.h"

namespace voltrix {

namespace {

HANDLE handleOf(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

std::string systemError(const std::string& what) {
  return what + " (error " + std::to_string(::GetLastError()) + ")";
}

// A record is whole in the log or absent. The append-only handle cannot
// set the file's end: a second handle cuts the file back to its length
// before the short write, unless another writer has appended since.
bool undoShortWrite(const std::string& path, HANDLE appender, LARGE_INTEGER before, DWORD written) {
  LARGE_INTEGER after{};
  if (!::GetFileSizeEx(appender, &after) || after.QuadPart != before.QuadPart + written) {
    return false;
  }
  HANDLE cutter =
      ::CreateFileW(widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (cutter == INVALID_HANDLE_VALUE) return false;
  const bool cut =
      ::SetFilePointerEx(cutter, before, nullptr, FILE_BEGIN) && ::SetEndOfFile(cutter);
  ::CloseHandle(cutter);
  return cut;
}

}  // namespace

TraceLogFile::~TraceLogFile() {
  ::CloseHandle(handleOf(handle_));
}

std::unique_ptr<TraceLogFile> TraceLogFile::open(const std::string& path, std::string& error) {
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end,
  // as one piece, whoever else appends.
  HANDLE file = ::CreateFileW(widen(path).c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = systemError("cannot open the log " + path);
    return nullptr;
  }
  if (::GetFileType(file) != FILE_TYPE_DISK) {
    ::CloseHandle(file);
    error = "the log " + path + " is not a regular file";
    return nullptr;
  }
  bool endsInsideLine = false;
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(file, &size) && size.QuadPart > 0) {
    OVERLAPPED at{};
    const std::uint64_t last = static_cast<std::uint64_t>(size.QuadPart) - 1;
    at.Offset = static_cast<DWORD>(last);
    at.OffsetHigh = static_cast<DWORD>(last >> 32);
    char byte = '\n';
    DWORD read = 0;
    endsInsideLine = ::ReadFile(file, &byte, 1, &read, &at) && read == 1 && byte != '\n';
  }
  return std::make_unique<TraceLogFile>(Key(), reinterpret_cast<std::intptr_t>(file), path,
                                        endsInsideLine);
}

TraceLogFile::Append TraceLogFile::append(const std::string& bytes, std::string& error) {
  LARGE_INTEGER before{};
  const bool sized = ::GetFileSizeEx(handleOf(handle_), &before) != 0;
  DWORD written = 0;
  const bool wrote = ::WriteFile(handleOf(handle_), bytes.data(), static_cast<DWORD>(bytes.size()),
                                 &written, nullptr) != 0;
  if (!wrote || written != bytes.size()) {
    error = wrote ? "the log took only " + std::to_string(written) + " of " +
                        std::to_string(bytes.size()) + " bytes of a record (disk full?)"
                  : systemError("cannot write to the log");
    if (written == 0) return Append::NothingWritten;
    return sized && undoShortWrite(path_, handleOf(handle_), before, written)
               ? Append::NothingWritten
               : Append::Torn;
  }
  if (!::FlushFileBuffers(handleOf(handle_))) {
    error = systemError("the log could not be written to the disk");
    return Append::Unsynced;
  }
  return Append::Whole;
}

std::string hostName() {
  // The wide call: a name outside the ANSI code page reaches the log intact.
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (!::GetComputerNameW(name, &length) || length == 0) return "unknown";
  return narrow(std::wstring_view(name, length));
}

}  // namespace voltrix

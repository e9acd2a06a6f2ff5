#include <windows.h>

#include "cli/TraceLogFile.h"

namespace voltrix::cli {

namespace {

HANDLE handleOf(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

std::string systemError(const std::string& what) {
  return what + " (error " + std::to_string(::GetLastError()) + ")";
}

}  // namespace

TraceLogFile::~TraceLogFile() {
  ::CloseHandle(handleOf(handle_));
}

std::unique_ptr<TraceLogFile> TraceLogFile::open(const std::string& path, std::string& error) {
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end,
  // as one piece, whoever else appends.
  HANDLE file = ::CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
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
  return std::make_unique<TraceLogFile>(Key(), reinterpret_cast<std::intptr_t>(file),
                                        endsInsideLine);
}

TraceLogFile::Append TraceLogFile::append(const std::string& bytes, std::string& error) {
  DWORD written = 0;
  if (!::WriteFile(handleOf(handle_), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                   nullptr)) {
    error = systemError("cannot write to the log");
    return written == 0 ? Append::NothingWritten : Append::Torn;
  }
  if (written != bytes.size()) {
    error = "the log took only " + std::to_string(written) + " of " + std::to_string(bytes.size()) +
            " bytes of a record (disk full?)";
    return Append::Torn;
  }
  if (!::FlushFileBuffers(handleOf(handle_))) {
    error = systemError("the log could not be written to the disk");
    return Append::Unsynced;
  }
  return Append::Whole;
}

std::string hostName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = sizeof name;
  if (!::GetComputerNameA(name, &length) || length == 0) return "unknown";
  return std::string(name, length);
}

}  // namespace voltrix::cli

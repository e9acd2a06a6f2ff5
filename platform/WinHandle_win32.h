#pragma once
// Owns one Win32 kernel handle (a port, an event) and closes it on every
// path. Both null and INVALID_HANDLE_VALUE mean "none": CreateFile fails with
// the one, CreateEvent with the other.

#include <windows.h>

#include <utility>

namespace voltrix {

class WinHandle {
 public:
  WinHandle() = default;
  explicit WinHandle(HANDLE handle) : handle_(handle) {}
  ~WinHandle() { reset(); }
  WinHandle(WinHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  WinHandle& operator=(WinHandle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  WinHandle(const WinHandle&) = delete;
  WinHandle& operator=(const WinHandle&) = delete;

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  void reset(HANDLE handle = nullptr) {
    if (valid()) ::CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

// An unnamed manual-reset event, not signalled: what an OVERLAPPED record
// of the port waits on.
inline WinHandle makeManualResetEvent() {
  return WinHandle(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
}

}  // namespace voltrix

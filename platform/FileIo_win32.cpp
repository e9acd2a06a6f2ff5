// The file layer on Win32: handles from CreateFileW. Names arrive as UTF-8
// and cross to the system as UTF-16, never through the ANSI code page.

#include <windows.h>
// After windows.h: the security descriptor from its text form.
#include <sddl.h>

#include <algorithm>
#include <random>

#include "platform/FileIo.h"
#include "platform/WideText_win32.h"

namespace voltrix {

namespace {

HANDLE handleOf(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

std::intptr_t heldHandle(HANDLE handle) {
  return reinterpret_cast<std::intptr_t>(handle);
}

// ReadFile and WriteFile move at most a DWORD's worth at a time.
constexpr std::size_t kLargestTransfer = 1u << 30;

// Frees a security descriptor that the system allocated for us.
class LocalMemory {
 public:
  LocalMemory() = default;
  ~LocalMemory() {
    if (memory_ != nullptr) ::LocalFree(memory_);
  }
  LocalMemory(const LocalMemory&) = delete;
  LocalMemory& operator=(const LocalMemory&) = delete;
  PSECURITY_DESCRIPTOR* receiver() { return &memory_; }
  PSECURITY_DESCRIPTOR get() const { return memory_; }

 private:
  PSECURITY_DESCRIPTOR memory_ = nullptr;
};

// A protected list that lets in the folder's owner and no one else, and
// passes that on to everything made inside.
constexpr wchar_t kOwnerOnlyAccess[] = L"D:P(A;OICI;FA;;;OW)";

std::string randomSuffix() {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device source;
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
  std::string suffix(6, ' ');
  for (char& letter : suffix) letter = kLetters[pick(source)];
  return suffix;
}

}  // namespace

std::optional<std::uint64_t> File::size() const {
  LARGE_INTEGER length{};
  if (!isOpen() || !::GetFileSizeEx(handleOf(handle_), &length) || length.QuadPart < 0) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(length.QuadPart);
}

bool File::seek(std::uint64_t offset) {
  if (!isOpen() || offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
  LARGE_INTEGER position{};
  position.QuadPart = static_cast<LONGLONG>(offset);
  return ::SetFilePointerEx(handleOf(handle_), position, nullptr, FILE_BEGIN) != 0;
}

long long File::readFully(std::uint8_t* buffer, std::size_t length) {
  if (!isOpen()) return -1;
  std::size_t done = 0;
  while (done < length) {
    const auto wanted = static_cast<DWORD>(std::min(length - done, kLargestTransfer));
    DWORD got = 0;
    if (!::ReadFile(handleOf(handle_), buffer + done, wanted, &got, nullptr)) return -1;
    if (got == 0) break;
    done += got;
  }
  return static_cast<long long>(done);
}

bool File::writeFully(const std::uint8_t* buffer, std::size_t length) {
  if (!isOpen()) return false;
  std::size_t done = 0;
  while (done < length) {
    const auto wanted = static_cast<DWORD>(std::min(length - done, kLargestTransfer));
    DWORD put = 0;
    if (!::WriteFile(handleOf(handle_), buffer + done, wanted, &put, nullptr) || put == 0) {
      return false;
    }
    done += put;
  }
  return true;
}

void File::close() {
  if (isOpen()) ::CloseHandle(handleOf(handle_));
  handle_ = kNoHandle;
}

File openForReading(const std::string& name) {
  // A folder does not open without FILE_FLAG_BACKUP_SEMANTICS; pipes and
  // devices (a COM port named as the image, say) open but are no disk file,
  // and are let go again at once.
  HANDLE handle = ::CreateFileW(widen(name).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return File();
  File file(heldHandle(handle));
  if (::GetFileType(handle) != FILE_TYPE_DISK) return File();
  return file;
}

File createFreshFile(const std::string& name) {
  if (!removeFile(name)) return File();
  // CREATE_NEW fails for anything under the name, a link included, so a
  // link planted between the delete and the create is never followed.
  HANDLE handle =
      ::CreateFileW(widen(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  return handle != INVALID_HANDLE_VALUE ? File(heldHandle(handle)) : File();
}

bool removeFile(const std::string& name) {
  const std::wstring wide = widen(name);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    // A link to a folder goes by RemoveDirectory, which takes the link and
    // leaves the folder; a real folder stays, as unlink() leaves one.
    return link && ::RemoveDirectoryW(wide.c_str()) != 0;
  }
  // A read-only file goes too, as on a POSIX system where the folder decides.
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0 && !link) {
    ::SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  return ::DeleteFileW(wide.c_str()) != 0 || ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

std::optional<std::string> createPrivateFolder(const std::string& prefix) {
  LocalMemory descriptor;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kOwnerOnlyAccess, SDDL_REVISION_1,
                                                              descriptor.receiver(), nullptr)) {
    return std::nullopt;
  }
  SECURITY_ATTRIBUTES security{};
  security.nLength = sizeof security;
  security.lpSecurityDescriptor = descriptor.get();
  security.bInheritHandle = FALSE;
  // A name someone else took first is passed over for another.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = prefix + randomSuffix();
    if (::CreateDirectoryW(widen(name).c_str(), &security)) return name;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace voltrix

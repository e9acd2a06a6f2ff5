#include "gui/win32/WorkFolder_win32.h"

#include <windows.h>
// Needs the types of windows.h.
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>

#include "control/WorkFolder.h"
#include "engine/SystemTexts.h"
#include "platform/WideText_win32.h"

namespace voltrix {

namespace {

// Long enough for any path the wide API hands out.
constexpr DWORD kLongestPath = 32768;

// A folder's full name in its long form, so that C:\PROGRA~1 and
// C:\Program Files compare equal; the name itself when it cannot be resolved.
std::wstring fullLongName(const std::wstring& name) {
  std::wstring full(kLongestPath, L'\0');
  DWORD length = GetFullPathNameW(name.c_str(), kLongestPath, full.data(), nullptr);
  if (length == 0 || length >= kLongestPath) return name;
  full.resize(length);
  std::wstring longName(kLongestPath, L'\0');
  length = GetLongPathNameW(full.c_str(), longName.data(), kLongestPath);
  if (length == 0 || length >= kLongestPath) return full;
  longName.resize(length);
  return longName;
}

std::wstring workingFolder() {
  std::wstring folder(kLongestPath, L'\0');
  const DWORD length = GetCurrentDirectoryW(kLongestPath, folder.data());
  folder.resize(length < kLongestPath ? length : 0);
  return folder;
}

std::wstring programFolder() {
  std::wstring file(kLongestPath, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, file.data(), kLongestPath);
  file.resize(length < kLongestPath ? length : 0);
  const auto slash = file.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : file.substr(0, slash);
}

// The system's own words for an error, on one line.
std::string systemMessage(DWORD error) {
  wchar_t text[512] = {};
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, error, 0, text, 512, nullptr);
  std::wstring message(text, length);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ' || message.back() == L'.')) {
    message.pop_back();
  }
  if (message.empty()) return "error " + std::to_string(error);
  return narrow(message);
}

// The operator's Documents folder; empty when the system names none.
std::wstring documentsFolder() {
  PWSTR path = nullptr;
  const HRESULT result = SHGetKnownFolderPath(FOLDERID_Documents, KF_FLAG_CREATE, nullptr, &path);
  std::wstring folder = SUCCEEDED(result) && path != nullptr ? path : L"";
  CoTaskMemFree(path);
  return folder;
}

bool isFolder(const std::wstring& name) {
  const DWORD attributes = GetFileAttributesW(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

std::string settleWorkFolder(const DialogOptions& options) {
  const std::wstring here = fullLongName(workingFolder());
  const bool imageHere =
      GetFileAttributesW(widen(texts::kImageFileName).c_str()) != INVALID_FILE_ATTRIBUTES;
  if (!worksInDocuments(options.imageNamed, narrow(here), narrow(fullLongName(programFolder())),
                        imageHere)) {
    return {};
  }
  const std::wstring documents = documentsFolder();
  if (documents.empty()) return "the Documents folder is unknown to the system";
  const std::wstring folder = documents + L"\\" + widen(kDocumentsWorkFolder);
  if (!CreateDirectoryW(folder.c_str(), nullptr)) {
    const DWORD error = GetLastError();
    if (!isFolder(folder)) return narrow(folder) + " could not be made: " + systemMessage(error);
  }
  if (!SetCurrentDirectoryW(folder.c_str())) {
    return narrow(folder) + " could not be entered: " + systemMessage(GetLastError());
  }
  return {};
}

}  // namespace voltrix

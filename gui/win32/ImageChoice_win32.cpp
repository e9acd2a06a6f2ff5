#include "gui/win32/ImageChoice_win32.h"

#include <commdlg.h>

#include <cwchar>

#include "engine/SystemTexts.h"
#include "platform/WideText_win32.h"
#include "res/resource.h"

namespace voltrix {

namespace {

// Long enough for any path the wide API hands out.
constexpr DWORD kLongestPath = 32768;

std::wstring fullPathOf(const std::wstring& name) {
  std::wstring full(kLongestPath, L'\0');
  const DWORD length = GetFullPathNameW(name.c_str(), kLongestPath, full.data(), nullptr);
  if (length == 0 || length >= kLongestPath) return name;
  full.resize(length);
  return full;
}

}  // namespace

std::wstring loadText(HINSTANCE instance, UINT id) {
  const wchar_t* text = nullptr;
  // With a zero length LoadStringW hands out the resource's own text.
  const int length = LoadStringW(instance, id, reinterpret_cast<LPWSTR>(&text), 0);
  return length > 0 && text != nullptr ? std::wstring(text, static_cast<std::size_t>(length))
                                       : std::wstring();
}

std::wstring askForImage(HINSTANCE instance, HWND owner) {
  // The string table keeps the filter's parts apart with '|'; the dialog
  // wants NULs.
  std::wstring filter = loadText(instance, IDS_IMAGE_FILTER);
  for (wchar_t& c : filter) {
    if (c == L'|') c = L'\0';
  }
  filter += L'\0';
  std::wstring file(kLongestPath, L'\0');
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filter.c_str();
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = kLongestPath;
  dialog.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!GetOpenFileNameW(&dialog)) return {};
  file.resize(std::wcslen(file.c_str()));
  return file;
}

std::wstring takeFirstDroppedName(HDROP drop) {
  std::wstring name;
  if (const UINT length = DragQueryFileW(drop, 0, nullptr, 0); length > 0) {
    name.resize(length + 1);
    name.resize(DragQueryFileW(drop, 0, name.data(), length + 1));
  }
  DragFinish(drop);
  return name;
}

std::wstring imageNamedBy(const std::wstring& name) {
  std::wstring image = fullPathOf(name);
  const DWORD attributes = GetFileAttributesW(image.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return image;
  }
  if (!image.empty() && image.back() != L'\\' && image.back() != L'/') image += L'\\';
  return image + widen(texts::kImageFileName);
}

}  // namespace voltrix

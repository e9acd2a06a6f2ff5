#pragma once
// One registry key opened for reading and closed on every path, with its
// values read as the device map reads them: the data as bytes, at most a
// given number of them, the type not examined.

#include <windows.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace voltrix {

class RegistryKey {
 public:
  // Opens `path` under `root` for KEY_READ; isOpen() tells whether it opened.
  RegistryKey(HKEY root, const std::string& path) {
    HKEY opened = nullptr;
    if (::RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &opened) == ERROR_SUCCESS) {
      key_.reset(opened);
    }
  }

  bool isOpen() const { return key_ != nullptr; }

  // The data of the value `name`; empty when there is no such value or its
  // data take more than `capacity` bytes.
  std::optional<std::string> value(const std::string& name, std::size_t capacity) const {
    if (!isOpen()) return std::nullopt;
    std::vector<BYTE> buffer(capacity);
    auto size = static_cast<DWORD>(capacity);
    if (::RegQueryValueExA(key_.get(), name.c_str(), nullptr, nullptr, buffer.data(), &size) !=
        ERROR_SUCCESS) {
      return std::nullopt;
    }
    return withoutTerminator(buffer, size);
  }

  // Every value whose data fit `capacity` bytes, as (name, data), by name.
  std::vector<std::pair<std::string, std::string>> values(std::size_t capacity) const {
    std::vector<std::pair<std::string, std::string>> found;
    if (!isOpen()) return found;
    // The longest name a registry value may have, and its terminator.
    std::vector<char> name(16384);
    std::vector<BYTE> data(capacity);
    for (DWORD index = 0;; ++index) {
      auto nameLength = static_cast<DWORD>(name.size());
      auto dataSize = static_cast<DWORD>(data.size());
      const LONG result = ::RegEnumValueA(key_.get(), index, name.data(), &nameLength, nullptr,
                                          nullptr, data.data(), &dataSize);
      if (result == ERROR_NO_MORE_ITEMS) break;
      // Data too long for the buffer: that value is passed over.
      if (result == ERROR_MORE_DATA) continue;
      if (result != ERROR_SUCCESS) break;
      found.emplace_back(std::string(name.data(), nameLength), withoutTerminator(data, dataSize));
    }
    std::sort(found.begin(), found.end());
    return found;
  }

 private:
  struct KeyCloser {
    void operator()(HKEY key) const { ::RegCloseKey(key); }
  };

  // A string value's data end in a NUL (or several, when written carelessly).
  static std::string withoutTerminator(const std::vector<BYTE>& buffer, DWORD size) {
    std::string data(reinterpret_cast<const char*>(buffer.data()), size);
    while (!data.empty() && data.back() == '\0') data.pop_back();
    return data;
  }

  std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser> key_;
};

}  // namespace voltrix

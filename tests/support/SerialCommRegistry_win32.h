#pragma once
// Sets values of the registry's serial-port map for one test and puts back
// what stood there before (under Wine the key lives only as long as the Wine
// server, so a test makes it when it is missing).

#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace voltrix::test {

class SerialCommRegistry {
 public:
  static constexpr char kKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

  SerialCommRegistry() {
    const LONG result = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0,
                                          KEY_READ | KEY_WRITE, nullptr, &key_, nullptr);
    if (result != ERROR_SUCCESS) {
      key_ = nullptr;
      ADD_FAILURE() << "the serial-port map cannot be opened for writing (" << result << ")";
    }
  }
  ~SerialCommRegistry() {
    if (key_ == nullptr) return;
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        write(it->first, *it->second);
      } else {
        ::RegDeleteValueA(key_, it->first.c_str());
      }
    }
    ::RegCloseKey(key_);
  }
  SerialCommRegistry(const SerialCommRegistry&) = delete;
  SerialCommRegistry& operator=(const SerialCommRegistry&) = delete;

  // A string value as a driver writes one (its data end in a NUL).
  void set(const std::string& name, const std::string& data) {
    save(name);
    std::vector<BYTE> bytes(data.begin(), data.end());
    bytes.push_back(0);
    write(name, bytes);
  }
  void remove(const std::string& name) {
    save(name);
    ::RegDeleteValueA(key_, name.c_str());
  }
  // Every value there is, so that a test sees only its own.
  void removeAll() {
    std::vector<std::string> names;
    std::vector<char> name(16384);
    for (DWORD index = 0;; ++index) {
      auto length = static_cast<DWORD>(name.size());
      if (::RegEnumValueA(key_, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS) {
        break;
      }
      names.emplace_back(name.data(), length);
    }
    for (const auto& each : names) remove(each);
  }

 private:
  void save(const std::string& name) {
    if (key_ == nullptr) return;
    for (const auto& entry : saved_) {
      if (entry.first == name) return;
    }
    DWORD size = 0;
    std::optional<std::vector<BYTE>> before;
    if (::RegQueryValueExA(key_, name.c_str(), nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
      std::vector<BYTE> bytes(size);
      if (::RegQueryValueExA(key_, name.c_str(), nullptr, nullptr, bytes.data(), &size) ==
          ERROR_SUCCESS) {
        bytes.resize(size);
        before = std::move(bytes);
      }
    }
    saved_.emplace_back(name, std::move(before));
  }
  void write(const std::string& name, const std::vector<BYTE>& bytes) {
    if (key_ == nullptr) return;
    ASSERT_EQ(::RegSetValueExA(key_, name.c_str(), 0, REG_SZ, bytes.data(),
                               static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
  }

  HKEY key_ = nullptr;
  std::vector<std::pair<std::string, std::optional<std::vector<BYTE>>>> saved_;
};

}  // namespace voltrix::test

#pragma once
// The engine's only way to the file system: whole reads and writes that
// survive interrupted and short transfers, the length of an open file, a seek,
// removal by name, and creation of a fresh file that never follows a link
// planted under its name. The OS calls live in the platform file.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace voltrix {

// One open file, closed on every path.
class File {
 public:
  File() = default;
  ~File() { close(); }
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool isOpen() const;
  explicit operator bool() const { return isOpen(); }

  // The file's length in bytes; empty when it cannot be told.
  std::optional<std::uint64_t> size() const;
  // Moves the position to `offset` bytes from the start.
  bool seek(std::uint64_t offset);
  // Reads until `length` bytes arrived or the file ended; -1 on a read error.
  long long readFully(std::uint8_t* buffer, std::size_t length);
  // Writes all `length` bytes; false on any error.
  bool writeFully(const std::uint8_t* buffer, std::size_t length);
  void close();

 private:
  friend File openForReading(const std::string& name);
  friend File createFreshFile(const std::string& name);

  // The platform's handle, held as an integer so that this header names no
  // system type.
  static constexpr std::intptr_t kNoHandle = -1;
  explicit File(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_ = kNoHandle;
};

// Opens an existing regular file for reading; closed on failure and for
// anything else under the name (a directory, a FIFO, a device), without
// waiting on it.
File openForReading(const std::string& name);

// Removes whatever stands under `name` (a file or a symbolic link, never what
// a link points to) and creates a new, empty file for writing in its place.
File createFreshFile(const std::string& name);

// Deletes the file or link under `name`; true when nothing stands there now.
bool removeFile(const std::string& name);

// Creates a new folder that only this user may enter, named `prefix` and a
// few random characters (a prefix without a folder puts it in the working
// directory); empty when none can be made.
std::optional<std::string> createPrivateFolder(const std::string& prefix);
// Removes the folder and everything in it; true when nothing is left.
bool removeFolder(const std::string& name);

}  // namespace voltrix

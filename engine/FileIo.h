#pragma once
// Small file helpers shared by the segment files and the read-back: whole
// reads and writes that survive EINTR and short transfers, and creation of a
// fresh temporary file that never follows a link planted under its name.

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/FileDescriptor.h"

namespace voltrix {

// Opens an existing regular file for reading; invalid on failure and for
// anything else under the name (a directory, a FIFO, a device), without
// waiting on it.
FileDescriptor openForReading(const std::string& name);

// Removes whatever stands under `name` (a file or a symbolic link, never what
// a link points to) and creates a new, empty file for writing in its place.
FileDescriptor createFreshFile(const std::string& name);

// Reads until `length` bytes arrived or the file ended; -1 on a read error.
long long readFully(int fd, std::uint8_t* buffer, std::size_t length);
// Writes all `length` bytes; false on any error.
bool writeFully(int fd, const std::uint8_t* buffer, std::size_t length);

}  // namespace voltrix

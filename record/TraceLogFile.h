#pragma once
// The traceability log's file, as the platform gives it: opened for appends
// only, each record written with one call and flushed to the disk before
// the call returns, so that a record is either whole in the file or absent
// even when the process is killed right after.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace voltrix {

class TraceLogFile {
  // Only open() makes one.
  struct Key {
    explicit Key() = default;
  };

 public:
  // Unsynced: the record is whole in the file but may not be on the disk.
  enum class Append { Whole, NothingWritten, Torn, Unsynced };

  TraceLogFile(Key, std::intptr_t handle, std::string path, bool endsInsideLine)
      : handle_(handle), path_(std::move(path)), endsInsideLine_(endsInsideLine) {}

  ~TraceLogFile();
  TraceLogFile(const TraceLogFile&) = delete;
  TraceLogFile& operator=(const TraceLogFile&) = delete;

  // Opens `path` for appending, creating it (rw-r--r--) when missing. A
  // path that is not a regular file is refused: a pipe or a terminal keeps
  // no record. Null with `error` set when it cannot be used.
  static std::unique_ptr<TraceLogFile> open(const std::string& path, std::string& error);

  // Whether the file holds bytes and its last one is not a line break: a
  // record that an earlier writer left torn.
  bool endsInsideLine() const { return endsInsideLine_; }

  // Writes `bytes` at the end with one write, then syncs the data. A write
  // cut short (a full disk) is undone: the file is cut back to its length
  // before it, and the result is NothingWritten. Torn: the piece could not be
  // taken back (another writer appended after it); the caller never writes
  // the remainder, which would be a record's tail without its head.
  Append append(const std::string& bytes, std::string& error);

 private:
  std::intptr_t handle_;
  std::string path_;  // to cut back a short write where the handle cannot
  bool endsInsideLine_;
};

// The machine's host name; "unknown" when it has none.
std::string hostName();

}  // namespace voltrix

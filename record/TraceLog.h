#pragma once
// The traceability log of a station: one JSON line per attempt to flash a
// device, appended to a file on the station's own disk (appends over a
// network share are not atomic). Each line:
//
//   {"id":"<UUID v4>","station":"...","version":"1.0.0.1",
//    "start":"2026-12-08T16:04:05.123Z","end":"...","slot":"...","port":"...",
//    "usb":{"vid_pid":"0403:6001","serial":"...","path":"1-2.3"},
//    "image":{"path":"...","sha256":"..."},"segments":3,"bytes":165,
//    "seconds":2.104,"result":"...","exit_code":0,"label":"...",
//    "failure_kind":"read_back_mismatch","failed_segment":2,
//    "failed_address":"0x00014000","hint":"...","run_folder":"..."}
//
// "slot" is the USB path of the device's socket, "label" the operator's name
// for it; "result" is the run's summary line.
// "usb" is left out when nothing of the device's USB identity is known;
// a field that is unknown (an empty text, an unset time) is null. The ids
// make collecting the logs of a line's stations idempotent.

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "record/JsonText.h"
#include "record/UsbIdentity.h"

namespace voltrix {

class TraceLogFile;

struct AttemptRecord {
  std::string station, slot, port, imagePath, imageSha256, result;  // result text UTF-8
  std::string label, failureKind, failedAddress, hint, runFolder;
  int failedSegment = 0;  // counted from 1; 0 for none
  UsbIdentity usb;
  std::chrono::system_clock::time_point started, ended;
  int segments = 0;
  std::uint64_t bytes = 0;
  double seconds = 0;
  int exitCode = 0;
};

// One per process; append() may be called from any thread.
class TraceLog {
  struct Key {
    explicit Key() = default;
  };

 public:
  TraceLog(Key, std::unique_ptr<TraceLogFile> file);
  ~TraceLog();
  TraceLog(const TraceLog&) = delete;
  TraceLog& operator=(const TraceLog&) = delete;

  // Null with `error` set when the file cannot be opened or is no file.
  static std::unique_ptr<TraceLog> open(const std::string& path, std::string& error);

  // What became of one record.
  struct Appended {
    std::string line;   // the record as written, without its line break
    bool kept = false;  // on the disk
    // Why not, when not kept: the line is then absent, or torn, in which
    // case the next record starts on a line of its own.
    std::string error;
    explicit operator bool() const { return kept; }
  };
  // Writes the record with a fresh id and this program's version as one
  // line and hands back that line (its id with it).
  Appended append(const AttemptRecord& record);
  // The same under the id given: the record as it was already shown.
  Appended append(const AttemptRecord& record, const std::string& id);

 private:
  std::mutex mutex_;
  std::unique_ptr<TraceLogFile> file_;
  bool lineOpen_ = false;  // the file ends inside a torn line
};

// The station's name when none is given: the host name.
std::string defaultStationName();

// A random (version 4) UUID, lowercase.
std::string newRecordId();

// A device's USB identity as the records and the preflight check write it:
// {"vid_pid":...,"serial":...,"path":...}, each null when unknown.
JsonDocument usbJson(const UsbIdentity& usb);

// A time as UTC ISO 8601 with milliseconds: "2026-12-08T16:04:05.123Z".
std::string utcTimestamp(std::chrono::system_clock::time_point time);

// The record's line, without the line break.
std::string traceRecordJson(const AttemptRecord& record, const std::string& id);

}  // namespace voltrix

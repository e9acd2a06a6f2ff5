#include "record/AttemptLog.h"

#include <cstdio>

namespace voltrix {

bool AttemptLog::open(const std::optional<std::string>& logFile,
                      const std::optional<std::string>& station, std::string& error) {
  station_ = station ? *station : defaultStationName();
  if (!logFile) return true;
  log_ = TraceLog::open(*logFile, error);
  return log_ != nullptr;
}

void AttemptLog::setImage(const std::string& path, const std::string& sha256) {
  imagePath_ = path;
  imageSha256_ = sha256;
}

AttemptLog::Recorded AttemptLog::record(const Attempt& attempt) {
  AttemptRecord record;
  record.station = station_;
  record.slot = attempt.slot;
  record.port = attempt.summary.port;
  record.imagePath = imagePath_;
  record.imageSha256 = imageSha256_;
  record.result = summaryLine(attempt.summary);
  if (!record.port.empty()) record.usb = usbIdentityOf(record.port);
  record.started = attempt.started;
  record.ended = attempt.ended;
  record.segments = attempt.summary.segments;
  record.bytes = attempt.summary.bytes;
  record.seconds = attempt.summary.seconds;
  record.exitCode = attempt.summary.exitCode;
  record.label = attempt.summary.label;
  record.failureKind = attempt.summary.failureKind;
  record.failedSegment = attempt.summary.failedSegment;
  if (record.failedSegment > 0) {
    char address[16];
    std::snprintf(address, sizeof address, "0x%08X",
                  static_cast<unsigned>(attempt.summary.failedAddress));
    record.failedAddress = address;
  }
  record.hint = attempt.summary.hint;
  record.runFolder = attempt.summary.runFolder;
  const std::string id = newRecordId();
  if (!log_) return {traceRecordJson(record, id), std::nullopt};
  TraceLog::Appended appended = log_->append(record, id);
  Recorded recorded{std::move(appended.line), std::nullopt};
  if (!appended.kept) recorded.lost = LogRecordLost{record.port, appended.error};
  return recorded;
}

}  // namespace voltrix

#include "record/TraceLog.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <random>

#include "record/JsonText.h"
#include "record/TraceLogFile.h"
#include "voltrix/Version.h"

namespace voltrix {

namespace {

JsonDocument timeOrNull(std::chrono::system_clock::time_point time) {
  if (time == std::chrono::system_clock::time_point{}) return {};
  return utcTimestamp(time);
}

}  // namespace

JsonDocument usbJson(const UsbIdentity& usb) {
  JsonDocument json;
  json["vid_pid"] = textOrNull(usb.vidPid);
  json["serial"] = textOrNull(usb.serial);
  json["path"] = textOrNull(usb.usbPath);
  return json;
}

std::string utcTimestamp(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto milliseconds = floor<std::chrono::milliseconds>(time);
  const auto day = floor<days>(milliseconds);
  const year_month_day date{day};
  const hh_mm_ss clock{milliseconds - day};
  char text[40];
  std::snprintf(
      text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
      static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
      static_cast<int>(clock.seconds().count()), static_cast<int>(clock.subseconds().count()));
  return text;
}

namespace {

std::array<std::uint8_t, 16> randomBytes() {
  std::array<std::uint8_t, 16> bytes{};
  const auto fill = [&bytes](auto& source) {
    for (std::size_t i = 0; i < bytes.size(); i += 4) {
      const auto value = static_cast<std::uint32_t>(source());
      for (std::size_t k = 0; k < 4; ++k)
        bytes[i + k] = static_cast<std::uint8_t>(value >> (8 * k));
    }
  };
  try {
    std::random_device source;
    fill(source);
  } catch (...) {
    // A system without a random source still gets ids that differ between
    // records and processes.
    static std::atomic<std::uint64_t> counter{0};
    std::seed_seq seed{
        static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()),
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()),
        counter.fetch_add(1), reinterpret_cast<std::uintptr_t>(&bytes)};
    std::mt19937 source(seed);
    fill(source);
  }
  return bytes;
}

}  // namespace

std::string newRecordId() {
  std::array<std::uint8_t, 16> bytes = randomBytes();
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0f) | 0x40);  // version 4
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3f) | 0x80);  // RFC 4122 variant
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string id;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) id += '-';
    id += kDigits[bytes[i] >> 4];
    id += kDigits[bytes[i] & 0x0f];
  }
  return id;
}

std::string traceRecordJson(const AttemptRecord& record, const std::string& id) {
  JsonDocument json;
  json["id"] = id;
  json["station"] = textOrNull(record.station);
  json["version"] = kVoltrixVersion;
  json["start"] = timeOrNull(record.started);
  json["end"] = timeOrNull(record.ended);
  json["slot"] = textOrNull(record.slot);
  json["port"] = textOrNull(record.port);
  if (record.usb.known()) json["usb"] = usbJson(record.usb);
  json["image"]["path"] = textOrNull(record.imagePath);
  json["image"]["sha256"] = textOrNull(record.imageSha256);
  json["segments"] = record.segments;
  json["bytes"] = record.bytes;
  // An unmeasured time is null; the writer turns a number that is not
  // finite into null as well.
  json["seconds"] = record.seconds;
  json["result"] = record.result;
  json["exit_code"] = record.exitCode;
  json["label"] = textOrNull(record.label);
  json["failure_kind"] = textOrNull(record.failureKind);
  json["failed_segment"] =
      record.failedSegment < 1 ? JsonDocument() : JsonDocument(record.failedSegment);
  json["failed_address"] = textOrNull(record.failedAddress);
  json["hint"] = textOrNull(record.hint);
  json["run_folder"] = textOrNull(record.runFolder);
  return jsonLine(json);
}

std::string defaultStationName() {
  return hostName();
}

TraceLog::TraceLog(Key, std::unique_ptr<TraceLogFile> file)
    : file_(std::move(file)), lineOpen_(file_->endsInsideLine()) {}

TraceLog::~TraceLog() = default;

std::unique_ptr<TraceLog> TraceLog::open(const std::string& path, std::string& error) {
  auto file = TraceLogFile::open(path, error);
  if (!file) return nullptr;
  return std::make_unique<TraceLog>(Key(), std::move(file));
}

TraceLog::Appended TraceLog::append(const AttemptRecord& record) {
  return append(record, newRecordId());
}

TraceLog::Appended TraceLog::append(const AttemptRecord& record, const std::string& id) {
  Appended appended;
  appended.line = traceRecordJson(record, id);
  const std::string line = appended.line + "\n";
  const std::lock_guard lock(mutex_);
  // After a torn line the record starts a line of its own, so that it
  // stays readable; the torn rest is one bad line, not two.
  const auto written = file_->append(lineOpen_ ? "\n" + line : line, appended.error);
  if (written == TraceLogFile::Append::Whole || written == TraceLogFile::Append::Unsynced) {
    lineOpen_ = false;
  }
  if (written == TraceLogFile::Append::Torn) lineOpen_ = true;
  appended.kept = written == TraceLogFile::Append::Whole;
  if (appended.kept) appended.error.clear();
  return appended;
}

}  // namespace voltrix

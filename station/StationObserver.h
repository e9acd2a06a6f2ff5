#pragma once
// What a station tells whoever shows or serves it, as it happens. Every
// event carries typed fields; the texts in them are the system's own words
// for a person (a status text, a hint), never something to take apart.
// Events come on the thread that runs the station, one at a time, in the
// order things happened; a device is known by its place in the station's
// order of devices (from 0), which never changes.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "control/RunSummary.h"
#include "engine/Refusal.h"
#include "record/AttemptLog.h"
#include "record/ResultsStore.h"
#include "station/CurrentImage.h"
#include "station/StationDevice.h"

namespace voltrix {

// Where a device's run stands: what its line shows.
struct DeviceProgress {
  std::size_t device = 0;
  std::string statusText;  // the status text, as the dialog would show it
  int percent = 0;         // over the whole image, written and read back
  int segment = 0;         // the segment under way; 0 before the first
  int segmentCount = 0;
  std::uint64_t bytesVerified = 0;
};

struct DeviceAppeared {
  std::size_t device = 0;
  DeviceTarget target;
};

// An attempt on a device began; a busy port tried again is the same
// attempt (the first try's start and record) with a higher `attempt`.
struct RunStarted {
  std::size_t device = 0;
  int attempt = 1;
  DeviceProgress progress;
};

// The port was held by another program right after the device appeared:
// it is tried again shortly, as try number `nextAttempt`.
struct PortBusyRetry {
  std::size_t device = 0;
  int nextAttempt = 2;
};

struct RunFinished {
  std::size_t device = 0;
  // How it ended; with a log, `logRecordKept` says whether it kept the
  // record. `stationCancelled` is set at the station's end only.
  RunSummary summary;
  // The lines that say what to do (a port that would not open, the files a
  // failed run kept), one per line; may be empty.
  std::string hints;
  std::optional<LogRecordLost> logRecordLost;
  std::chrono::system_clock::time_point started, ended;
  // The attempt's log record, one JSON line with its id: the line the log
  // kept, and the same line when there is no log.
  std::string record;
};

// The image is read and checked and the log is open: devices come next.
struct StationStarted {
  std::string station;  // the name the records carry
  std::string imagePath;
  std::string imageSha256;
};

// Something the operator should know that stops nothing.
struct StationWarning {
  enum class Kind {
    LabelMatchedNoDevice,  // `label` ("PATH=NAME") named none of the devices
  } kind = Kind::LabelMatchedNoDevice;
  // Among which devices: the device map's at the start, the given ports',
  // or all that appeared while the station watched (told at its end).
  enum class Among { DeviceMap, GivenPorts, Watched } among = Among::DeviceMap;
  std::string label;
};

// The station would not start: no device map or no port in it, or an image
// that cannot be used. The summary is the one a run on one device gives.
struct StationRefused {
  Refusal refusal = Refusal::None;
  std::string hint;  // what to do about it; may be empty
  RunSummary summary;
};

// The station looked at all its devices once and told what changed.
struct StationPass {
  bool devicesChanged = false;  // some device's progress changed in this pass
  // Watching, and more devices still to be taken: the tally so far.
  bool waitingForDevices = false;
  int verified = 0;
  int failed = 0;
  bool paused = false;
  bool draining = false;
  // The job's quota is used up (counting the devices running): no new
  // device starts until the line gives more.
  bool quotaReached = false;
  // "database behind: REASON" while the results database lacks records of
  // the log; empty when it is current or there is none.
  std::string databaseBehind;
};

struct DeviceResult {
  DeviceTarget target;
  RunSummary summary;  // with `stationCancelled` set
};

struct StationFinished {
  int exitCode = 0;  // the worst of the devices', or the refusal's
  // False when the station ended before taking any device (refused, or a
  // log that could not be opened).
  bool ran = false;
  bool cancelled = false;
  int verified = 0;
  int failed = 0;
  std::vector<DeviceResult> devices;  // in the station's order
};

// How the sending of the records to the line stands (voltrix-cli --line),
// told by the uplink on the station's thread when it changes.
struct LineNotice {
  enum class Kind {
    Progress,       // the records waiting changed; nothing to say aloud
    Unreachable,    // a post failed (`lastError`): the records wait
    Back,           // the line takes records again after a failure
    TokenRefused,   // the line refused the token (401/403): the records wait
    RecordRefused,  // the line refuses one record as bad (400): `refused` names it;
                    // it and those after it wait, tried again now and then
    Left,           // at the station's end: `records` wait for the next start
  } kind = Kind::Progress;
  std::string url;
  std::uint64_t records = 0;  // waiting in the outbox (the log beyond what was sent)
  std::string lastError;      // empty while the last post went through
  std::string refused;        // RecordRefused: the record's id, or its start
};

class StationObserver {
 public:
  virtual ~StationObserver() = default;
  virtual void stationStarted(const StationStarted&) {}
  virtual void deviceAppeared(const DeviceAppeared&) {}
  virtual void runStarted(const RunStarted&) {}
  virtual void progressChanged(const DeviceProgress&) {}
  virtual void portBusyRetry(const PortBusyRetry&) {}
  virtual void runFinished(const RunFinished&) {}
  virtual void warning(const StationWarning&) {}
  virtual void refused(const StationRefused&) {}
  // The log file could not be opened: the station ends with the file
  // error's exit code before any device is touched.
  virtual void logUnavailable(const std::string& /*error*/) {}
  // The results database fell behind the log, caught up again, or found
  // lines in the log that are not records.
  virtual void resultsDatabase(const ResultsNotice&) {}
  virtual void passDone(const StationPass&) {}
  // A job was taken, restored or refused (see CurrentImage).
  virtual void jobNotice(const StationJobNotice&) {}
  // Told by the uplink to the line, not by the station itself.
  virtual void lineNotice(const LineNotice&) {}
  // Always the last event.
  virtual void stationFinished(const StationFinished&) {}
};

}  // namespace voltrix

#pragma once
// What a station is asked to do: which devices, how many, what the
// operator calls them, the link's timings, the image, where the runs keep
// their files and their records. A front end fills it from its own options;
// the station reads nothing else.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/LinkSession.h"
#include "link/ProtocolTrace.h"
#include "station/CurrentImage.h"
#include "station/StationImage.h"
#include "station/StationTargets.h"

namespace voltrix {

struct StationPlan {
  // The devices flashed from the start, in their order (from the given
  // ports: see targetsOfPorts).
  std::vector<DeviceTarget> targets;
  // Every USB virtual COM port of the device map, read when the station
  // starts, is flashed from the start too; a map that cannot be read or
  // lists no port refuses the station.
  bool allOfDeviceMap = false;
  // Each device that appears in the device map is flashed once, until
  // `count` devices have been taken (without end when empty).
  bool watch = false;
  std::optional<int> count;
  Labels labels;  // slot or port -> the operator's name for it
  LinkTimings timings;

  // The image: read and checked from `imagePath` when the station starts,
  // unless one already read is given (shared between stations).
  std::string imagePath = "sysbin.bin";
  std::shared_ptr<const StationImage> image;
  // When given, where each device's run takes its image as it starts, which
  // a job may replace while the station runs. The station starts with the
  // image it holds, or puts the one read or given above in it.
  std::shared_ptr<CurrentImage> currentImage;
  // Where each device's private run folder is made.
  std::string runFolders = ".";

  // The traceability log: one record per attempt when a file is given; the
  // station's name in it (the host's name when none is given).
  std::optional<std::string> logFile;
  std::optional<std::string> stationName;
  // The results database: each record the log took is also written there,
  // on a thread of its own, and the database catches up with the log when
  // the station starts. Needs `logFile`.
  std::optional<std::string> resultsDb;

  // What a request to end the process (Ctrl+C, SIGTERM, SIGHUP, once the
  // front end catches them) does: nothing, cancel the station, or drain it
  // (a service's stop lets the devices being flashed finish) and cancel on
  // a second request.
  enum class OnTerminationRequest { Ignore, Cancel, DrainThenCancel };
  OnTerminationRequest onTerminationRequest = OnTerminationRequest::Ignore;
  // When given, what sees every byte of one device's runs; may return null.
  std::function<std::shared_ptr<ProtocolTrace>(const DeviceTarget&)> traceFor;
};

}  // namespace voltrix

#pragma once
// The three phases of the device's loader protocol as the worker sees them.
// The serial layer provides the real ones; the engine only needs their
// results: 0 done, 1 failed and already reported to the sink.

#include <string>

#include "engine/DownloadState.h"
#include "engine/WorkerMessages.h"

namespace voltrix {

class LinkPhases {
 public:
  virtual ~LinkPhases() = default;
  // Called once before the first phase of every run.
  virtual void beginRun() {}
  virtual int writeSegment(DownloadState& state, MessageSink& dialog,
                           const std::string& writeFileName) = 0;
  virtual int readBackSegment(DownloadState& state, MessageSink& dialog,
                              const std::string& writeFileName,
                              const std::string& readBackFileName) = 0;
  virtual int sendEndOfRun(DownloadState& state, MessageSink& dialog, int success) = 0;
};

}  // namespace voltrix

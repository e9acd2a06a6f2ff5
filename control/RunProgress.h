#pragma once
// Where a run stands over the whole image, from the worker's messages: the
// segment under way (counted from 1), its load address, and one percentage
// for all segments, written and read back (the status display's bar starts
// over with every segment).

#include <cstdint>

#include "engine/DownloadState.h"
#include "engine/WorkerMessages.h"

namespace voltrix {

class RunProgress {
 public:
  // `state`'s table is read only: it stays as it is while a run goes on.
  void see(const WorkerMessage& message, const DownloadState& state);

  // 0 before the table is known.
  int segment() const { return segment_; }
  int segmentCount() const { return segmentCount_; }
  std::uint32_t address() const { return address_; }
  int percent() const;

 private:
  void follow(const DownloadState& state);

  int segmentCount_ = 0;
  int segment_ = 0;
  std::uint32_t address_ = 0;
  std::uint32_t length_ = 0;
  std::uint64_t total_ = 0;  // bytes written plus bytes read back in a whole run
  std::uint64_t done_ = 0;   // of the segments verified so far
  std::uint64_t phase_ = 0;  // of the segment under way
  bool readBackDone_ = false;
};

}  // namespace voltrix

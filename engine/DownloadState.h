#pragma once
// The values of one download run, shared by the front end's thread and the
// worker. The front end fills the table and the port while `busy` is idle and
// then hands the state over; the worker gives it back by setting `busy` to 0.
// Everything both threads touch at once is atomic.

#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>

namespace voltrix {

enum class BusyState : std::uint8_t {
  Idle = 0,
  Downloading = 0x4C,  // 'L'
};

inline constexpr int MAX_SEGMENTS = 128;

using SegmentColumn = std::array<std::int32_t, MAX_SEGMENTS>;

struct DownloadState {
  std::atomic<std::int32_t> comPort{1};
  std::atomic<std::int32_t> baudRate{57600};
  std::atomic<BusyState> busy{BusyState::Idle};
  std::atomic<std::int32_t> segmentCount{0};
  std::atomic<std::int32_t> cursor{0};

  // The segment table: written by the table load before a run starts, read by
  // the worker during it.
  SegmentColumn segmentOffsets{};
  SegmentColumn segmentAddresses{};
  SegmentColumn segmentLengths{};

  std::atomic<std::uint32_t> currentOffset{0};
  std::atomic<std::uint32_t> currentLength{0};
  std::atomic<std::uint32_t> currentAddress{0};
  // Always one of the program's string constants, so a reader on another
  // thread never sees a half-written name.
  std::atomic<const char*> imageName{""};

  // The run's private folder, empty for the working directory: the image's
  // snapshot and the segment files live in it, so that runs side by side
  // never share a file. Written before the run is handed to the worker,
  // which clears it once it has removed a verified run's folder; read by the
  // front end once the run has ended.
  std::string runFolder;
  // Where the file `name` of this run lives.
  std::string inRunFolder(const std::string& name) const {
    return runFolder.empty() ? name : runFolder + "/" + name;
  }

  // Owned by the front end's thread alone.
  std::time_t startTime = 0;
  std::time_t endTime = 0;

  // Set from outside (Ctrl+C, a closing window) to end a run early; every
  // wait of the run checks it.
  std::atomic<bool> cancelRequested{false};

  // The defaults the dialog sets while it initialises.
  void setDefaults() {
    busy = BusyState::Idle;
    currentOffset = 0;
    currentLength = 0;
    currentAddress = 0;
    segmentCount = 0;
    cursor = 0;
    comPort = 1;
    baudRate = 57600;
  }
};

}  // namespace voltrix

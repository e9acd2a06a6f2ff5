#pragma once
// A pseudo-terminal for the serial tests: the test keeps the master side in
// raw mode and the port under test opens the device side (devicePath()).

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace voltrix::test {

class PtyPair {
 public:
  PtyPair();  // fails the test when no pseudo-terminal can be made
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool valid() const { return master_ >= 0; }
  int master() const { return master_; }
  const std::string& devicePath() const { return devicePath_; }

  // Sends bytes from the device's side; false when they could not all go.
  bool send(const std::vector<std::uint8_t>& bytes);
  // Collects what the port sent until `count` bytes arrived or `wait` passed.
  std::vector<std::uint8_t> receive(std::size_t count, std::chrono::milliseconds wait);
  // Ends the device side: the port sees a hang-up.
  void closeMaster();

 private:
  int master_ = -1;
  std::string devicePath_;
};

// A directory named by VOLTRIX_DOSDEVICES for as long as the object lives.
class DosDevicesOverride {
 public:
  explicit DosDevicesOverride(const std::string& directory);
  ~DosDevicesOverride();
  DosDevicesOverride(const DosDevicesOverride&) = delete;
  DosDevicesOverride& operator=(const DosDevicesOverride&) = delete;

 private:
  bool hadValue_ = false;
  std::string previous_;
};

// Entries of /proc/self/fd and /proc/self/task: open descriptors and threads.
int openDescriptorCount();
int threadCount();

// `bytes` filled with 0, 1, ..., 255.
std::vector<std::uint8_t> everyByteValue();

}  // namespace voltrix::test

#pragma once
// The system's only access to the serial line: one port, opened by COM
// number, raw 8N1 at the requested speed, for exclusive use. Reads come in
// three modes selected by the timeout argument: 0 polls once, kBlocking waits
// for one byte, any other value collects up to `length` bytes waiting up to
// `timeout` ms per pass for at most 1000 passes. While a port is open a
// monitor thread watches line errors and modem lines.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "engine/FileDescriptor.h"
#include "serial/ComResolver.h"

namespace voltrix {

// Why an Open failed, for front ends that can tell the operator more than
// "Fail to open the COM!".
enum class OpenFailure {
  None,
  OutOfRange,           // port 0 or above 1024
  NoSuchPort,           // no device node for the number, or it does not exist
  PermissionDenied,     // the device node exists but may not be opened
  PortBusy,             // another program (or this one) holds the port
  NotASerialPort,       // the node is not a terminal device
  ConfigurationFailed,  // the line settings could not be applied
  MonitorFailed,        // the monitor thread could not be started
};

// Outcome of a bounded wait for one byte.
enum class WaitResult { Byte, TimedOut, PortGone, Cancelled };

// Receiver of the monitor's notifications; nothing in the download sets one.
class SerialNotifySink {
 public:
  virtual ~SerialNotifySink() = default;
  virtual void notify(std::uint32_t message, std::uint32_t portNumber,
                      std::uint32_t lParam) noexcept = 0;
};

// Notification numbers of the monitor.
inline constexpr std::uint32_t UWM_COMM_RXCHAR = 1642;
inline constexpr std::uint32_t UWM_COMM_CTS = 1643;
inline constexpr std::uint32_t UWM_COMM_DSR = 1645;
inline constexpr std::uint32_t UWM_COMM_RING = 1647;
inline constexpr std::uint32_t UWM_COMM_RLSD = 1648;
inline constexpr std::uint32_t UWM_COMM_BREAK = 1649;
inline constexpr std::uint32_t UWM_COMM_TXEMPTY = 1650;
inline constexpr std::uint32_t UWM_COMM_ERROR = 1651;

class SerialPort {
 public:
  static constexpr std::uint32_t kBlocking = 0xFFFFFFFFu;
  static constexpr std::uint32_t kMaxPortNumber = 1024;
  static constexpr int kCountedPasses = 1000;
  static constexpr std::size_t kQueueSize = 4096;

  SerialPort();  // resolves numbers with systemComResolver()
  explicit SerialPort(std::shared_ptr<const ComResolver> resolver);
  ~SerialPort();  // what Close does
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Port 0 or above 1024 is refused before anything else. True when the port
  // is open, raw, 8N1 at baudRate and held exclusively. On failure nothing
  // stays open and LastOpenFailure() says why.
  bool Open(std::uint32_t port, std::uint32_t baudRate);

  // Hands the bytes to the driver and returns without waiting for them to
  // leave the line. Reports nothing: a lost write shows as a missing reply.
  void Write(const std::uint8_t* buffer, std::uint32_t length);

  // Poll mode (timeout 0): 1 when a byte was stored in buffer[0], else 0.
  // Blocking mode (kBlocking): 1 once a byte is in buffer[0]; 0 only when the
  // port went away, was never open, or the cancel flag was raised.
  // Counted mode: the number of bytes stored from buffer[0] on (at most
  // length); returns early when the port goes away or the run is cancelled.
  int Read(std::uint8_t* buffer, std::int32_t length, std::uint32_t timeout);

  // Counted mode with an optional upper bound on the whole read (the passes
  // stop once it has passed): the number of bytes stored from buffer[0] on.
  // Read's counted mode is this without a bound.
  int ReadCounted(std::uint8_t* buffer, std::int32_t length, std::uint32_t timeout,
                  std::optional<std::chrono::milliseconds> totalBound);

  // Blocking mode with an optional upper bound: waits for one byte.
  WaitResult ReadByte(std::uint8_t& byte, std::optional<std::chrono::milliseconds> bound);

  // Discards everything received and not yet read.
  void PurgeInput();

  // Discards unsent output, stops the monitor, releases the port. Harmless
  // when nothing is open.
  void Close();

  bool IsOpen() const;
  // True after the port has signalled hang-up or an I/O error.
  bool IsGone() const;
  OpenFailure LastOpenFailure() const { return lastOpenFailure_; }
  // The device node and, on failure, what the operator can do about it.
  const std::string& LastOpenDetail() const { return lastOpenDetail_; }
  std::uint32_t PortNumber() const { return portNumber_; }
  const std::string& DevicePath() const { return devicePath_; }
  bool MonitorRunning() const;

  // Raised from another thread to end every wait of this port early.
  void SetCancelFlag(const std::atomic<bool>* cancel) { cancel_ = cancel; }
  void SetNotifySink(SerialNotifySink* sink) { notifySink_ = sink; }

 private:
  // Implementation members are the port's own business; see SerialPort.cpp.
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::shared_ptr<const ComResolver> resolver_;
  std::uint32_t portNumber_ = 0;
  std::string devicePath_;
  OpenFailure lastOpenFailure_ = OpenFailure::None;
  std::string lastOpenDetail_;
  const std::atomic<bool>* cancel_ = nullptr;
  std::atomic<SerialNotifySink*> notifySink_{nullptr};
};

// A short English sentence for the failure, naming what to do where there is
// something to do (join the group that owns the device, close the other
// program).
std::string describeOpenFailure(OpenFailure failure, const std::string& detail);

}  // namespace voltrix

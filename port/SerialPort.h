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
#include <optional>
#include <string>

#include "port/ComResolver.h"
#include "port/LineNotifications.h"
#include "port/PortOpenFailure.h"

namespace voltrix {

// Outcome of a bounded wait for one byte.
enum class WaitResult { Byte, TimedOut, PortGone, Cancelled };

class SerialPort {
 public:
  static constexpr std::uint32_t kBlocking = 0xFFFFFFFFu;
  static constexpr std::uint32_t kMaxPortNumber = 1024;
  static constexpr int kCountedPasses = 1000;

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
  // Why the last Open failed; after a successful one, kind None with the
  // port's number and device node.
  const PortOpenFailure& LastOpenFailure() const { return lastOpenFailure_; }
  std::uint32_t PortNumber() const { return portNumber_; }
  const std::string& DevicePath() const { return devicePath_; }
  bool MonitorRunning() const;
  // What tells the device behind the open port from any other, so that a
  // later open can tell whether it still reaches the same one: on Linux the
  // node's device number and the USB device's bus, number, port path and
  // serial; on Windows the device object the COM name stands for. Empty when
  // nothing is open or the system cannot tell.
  std::string DeviceIdentity() const;

  // Raised from another thread to end every wait of this port early.
  void SetCancelFlag(const std::atomic<bool>* cancel) { cancel_ = cancel; }
  void SetNotifySink(SerialNotifySink* sink);

 private:
  // The platform's handle and line state, in its SerialPort_<platform>.cpp.
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::shared_ptr<const ComResolver> resolver_;
  std::uint32_t portNumber_ = 0;
  std::string devicePath_;
  PortOpenFailure lastOpenFailure_;
  const std::atomic<bool>* cancel_ = nullptr;
  std::atomic<SerialNotifySink*> notifySink_{nullptr};
};

}  // namespace voltrix

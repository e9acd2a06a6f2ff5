#pragma once
// The port monitor's rules: which notifications a change on the line is
// worth. The monitor of each platform fills in the looks; the rules are the
// same everywhere.

#include <cstdint>
#include <vector>

namespace voltrix {

// Notification numbers of the monitor.
inline constexpr std::uint32_t UWM_COMM_RXCHAR = 1642;
inline constexpr std::uint32_t UWM_COMM_CTS = 1643;
inline constexpr std::uint32_t UWM_COMM_DSR = 1645;
inline constexpr std::uint32_t UWM_COMM_RING = 1647;
inline constexpr std::uint32_t UWM_COMM_RLSD = 1648;
inline constexpr std::uint32_t UWM_COMM_BREAK = 1649;
inline constexpr std::uint32_t UWM_COMM_TXEMPTY = 1650;
inline constexpr std::uint32_t UWM_COMM_ERROR = 1651;

// The error bits handed on with UWM_COMM_ERROR.
inline constexpr std::uint32_t kLineErrorRxOver = 0x0001;
inline constexpr std::uint32_t kLineErrorOverrun = 0x0002;
inline constexpr std::uint32_t kLineErrorParity = 0x0004;
inline constexpr std::uint32_t kLineErrorFrame = 0x0008;
inline constexpr std::uint32_t kLineErrorBreak = 0x0010;

// Running totals of the line's error events, as a driver counts them.
struct LineErrorCounts {
  std::int64_t frame = 0;
  std::int64_t parity = 0;
  std::int64_t overrun = 0;        // the UART's own buffer
  std::int64_t bufferOverrun = 0;  // the driver's receive buffer
  std::int64_t breaks = 0;
};

// The error bits for the events counted between two readings.
std::uint32_t lineErrorsBetween(const LineErrorCounts& before, const LineErrorCounts& now);

// Running totals of the line's other events.
struct LineEventCounts {
  std::int64_t received = 0;  // bytes
  std::int64_t cts = 0;       // changes of each modem line
  std::int64_t dsr = 0;
  std::int64_t ring = 0;
  std::int64_t carrier = 0;
};

// The levels of the modem lines.
struct ModemLines {
  bool cts = false;
  bool dsr = false;
  bool ring = false;
  bool carrier = false;  // RLSD, DCD
  bool operator==(const ModemLines&) const = default;
};

// One look of the monitor at the line. What the driver would not tell is
// marked unknown and then takes no part in the comparison.
struct LineLook {
  bool modemLinesKnown = false;
  ModemLines modemLines;
  bool eventCountsKnown = false;
  LineEventCounts eventCounts;
  int queued = 0;  // received and not yet read
  int unsent = 0;  // written and not yet on the line
};

struct LineNotification {
  std::uint32_t message;
  std::uint32_t lParam;
  bool operator==(const LineNotification&) const = default;
};

// What changed between two looks, in the order the sink hears it.
std::vector<LineNotification> notificationsBetween(const LineLook& before, const LineLook& now);

// What newly taken line errors are worth: a break is told on its own as well.
std::vector<LineNotification> notificationsForErrors(std::uint32_t errorBits);

// Receiver of the monitor's notifications; nothing in the download sets one.
class SerialNotifySink {
 public:
  virtual ~SerialNotifySink() = default;
  virtual void notify(std::uint32_t message, std::uint32_t portNumber,
                      std::uint32_t lParam) noexcept = 0;
};

}  // namespace voltrix

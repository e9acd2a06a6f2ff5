#include "control/StatusDisplay.h"

#include <cstdint>
#include <cstdio>
#include <utility>

#include "engine/SystemTexts.h"

namespace voltrix {

namespace {

// The status control has always been filled from a 256-byte buffer, so a
// line never grows past 255 bytes.
constexpr std::size_t kStatusBufferSize = 256;

constexpr int kProgressMax = 100;
constexpr int kProgressStep = 10;

// Texts travel as pointers to program constants; a null one shows as an
// empty text rather than taking the dialog down.
const char* orEmpty(const char* text) {
  return text != nullptr ? text : "";
}

// Elapsed seconds are kept in a signed 32-bit count, as the time stamps of
// one transfer always were.
long elapsed(std::time_t from, std::time_t to) {
  return static_cast<std::int32_t>(static_cast<std::int64_t>(to) - static_cast<std::int64_t>(from));
}

std::string timeLine(const char* format, long seconds) {
  char buffer[kStatusBufferSize];
  std::snprintf(buffer, sizeof buffer, format, elapsedMinutes(seconds), elapsedSeconds(seconds));
  return buffer;
}

std::string errorLine(const char* text, const char* imageName) {
  char buffer[kStatusBufferSize];
  std::snprintf(buffer, sizeof buffer, texts::kErrorFormat, orEmpty(text), orEmpty(imageName));
  return buffer;
}

std::string plainLine(const char* text) {
  char buffer[kStatusBufferSize];
  std::snprintf(buffer, sizeof buffer, "%s", orEmpty(text));
  return buffer;
}

// The share of the segment before the block a progress message names. The
// products wrap at 32 bits before the subtraction, and a message processed
// after the worker moved on to the next segment lands far above 100, which
// the bar clamps.
unsigned progressBefore(std::uint32_t blockAddress, std::uint32_t segmentAddress,
                        std::uint32_t segmentLength) {
  const std::uint32_t offsetTimes100 = blockAddress * 100u - segmentAddress * 100u;
  return offsetTimes100 / segmentLength;
}

}  // namespace

int elapsedMinutes(long seconds) {
  return static_cast<int>(seconds / 60 - (seconds / 3600) * 60);
}

int elapsedSeconds(long seconds) {
  return static_cast<int>(seconds - (seconds / 60) * 60);
}

void StatusDisplay::apply(const WorkerMessage& message, DownloadState& state, std::time_t now) {
  textChanged_ = false;
  switch (message.id) {
    case UWM_ERROR:
      setStatus(errorLine(message.text, state.imageName.load()));
      break;
    case UWM_PORT_FAIL:
      setStatus(plainLine(message.text));
      setProgress(0);
      break;
    case UWM_WAIT:
      setStatus(plainLine(message.text));
      stepProgress();
      break;
    case UWM_CONNECTED:
      state.startTime = now;
      setStatus(texts::kConnectSuccessfully);
      setProgress(0);
      break;
    case UWM_WRITE_PROGRESS:
    case UWM_VERIFY_PROGRESS:
      setStatus(timeLine(texts::kTimeFormat, elapsed(state.startTime, now)));
      // The length is never 0 from the worker; a stray 0 leaves the bar alone
      // instead of dividing by it.
      if (message.lParam != 0) {
        setProgress(progressBefore(message.wParam, state.currentAddress.load(), message.lParam));
      }
      break;
    case UWM_SEGMENT_OK:
      state.endTime = now;
      setStatus(
          timeLine(texts::kUpdateSuccessfullyFormat, elapsed(state.startTime, state.endTime)));
      setProgress(kProgressMax);
      break;
    case UWM_VERIFY_DONE:
    case UWM_WRITE_DONE:
      // The elapsed-time line of the last progress message stays in place.
      state.endTime = now;
      setProgress(kProgressMax);
      break;
    default:
      // 1726 and anything else: nobody posts them, and they change nothing.
      break;
  }
}

void StatusDisplay::setStatus(std::string text) {
  statusText_ = std::move(text);
  textChanged_ = true;
}

void StatusDisplay::setProgress(unsigned position) {
  progress_ =
      position > static_cast<unsigned>(kProgressMax) ? kProgressMax : static_cast<int>(position);
}

// One step of 10; past the top the bar starts over from its beginning, as the
// original control did.
void StatusDisplay::stepProgress() {
  progress_ += kProgressStep;
  if (progress_ > kProgressMax) progress_ = 0;
}

}  // namespace voltrix

#include "cli/SinceTime.h"

#include <algorithm>
#include <ctime>

namespace voltrix::cli {

namespace {

using std::chrono::system_clock;

// At most ten years back: anything longer is a typing mistake.
constexpr long long kLongestHours = 10LL * 366 * 24;

// A reader of fixed-width digit fields, left to right.
class Cursor {
 public:
  explicit Cursor(const std::string& text) : text_(text) {}
  bool atEnd() const { return at_ == text_.size(); }
  bool take(char wanted) {
    if (atEnd() || text_[at_] != wanted) return false;
    ++at_;
    return true;
  }
  std::optional<char> peek() const {
    return atEnd() ? std::nullopt : std::optional<char>(text_[at_]);
  }
  // Exactly `width` digits, or (with `atMost`) one to `width`.
  std::optional<int> digits(std::size_t width, bool atMost = false) {
    std::size_t count = 0;
    int value = 0;
    while (count < width && at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
      value = value * 10 + (text_[at_] - '0');
      ++at_;
      ++count;
    }
    if (count == 0 || (!atMost && count != width)) return std::nullopt;
    lastWidth_ = count;
    return value;
  }
  std::size_t lastWidth() const { return lastWidth_; }

 private:
  const std::string& text_;
  std::size_t at_ = 0;
  std::size_t lastWidth_ = 0;
};

std::optional<system_clock::time_point> ago(const std::string& text, system_clock::time_point now) {
  Cursor cursor(text);
  const auto count = cursor.digits(7, true);
  const auto unit = cursor.peek();
  if (!count || !unit || !cursor.take(*unit) || !cursor.atEnd()) return std::nullopt;
  long long perUnit = 0;
  switch (*unit) {
    case 's':
      perUnit = 1;
      break;
    case 'm':
      perUnit = 60;
      break;
    case 'h':
      perUnit = 3600;
      break;
    case 'd':
      perUnit = 86400;
      break;
    default:
      return std::nullopt;
  }
  if (*count < 1 || *count * perUnit > kLongestHours * 3600) return std::nullopt;
  return now - std::chrono::seconds(*count * perUnit);
}

struct Written {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  std::chrono::milliseconds fraction{0};
  std::optional<std::chrono::minutes> offset;  // east of UTC; empty: local time
};

// YYYY-MM-DD[(T| )HH:MM[:SS[.F]]][Z|(+|-)HH[:]MM], nothing else.
std::optional<Written> readIso(const std::string& text) {
  Cursor cursor(text);
  Written written;
  const auto year = cursor.digits(4);
  if (!year || !cursor.take('-')) return std::nullopt;
  const auto month = cursor.digits(2);
  if (!month || !cursor.take('-')) return std::nullopt;
  const auto day = cursor.digits(2);
  if (!day) return std::nullopt;
  written.year = *year;
  written.month = *month;
  written.day = *day;
  if (cursor.take('T') || cursor.take(' ')) {
    const auto hour = cursor.digits(2);
    if (!hour || !cursor.take(':')) return std::nullopt;
    const auto minute = cursor.digits(2);
    if (!minute) return std::nullopt;
    written.hour = *hour;
    written.minute = *minute;
    if (cursor.take(':')) {
      const auto second = cursor.digits(2);
      if (!second) return std::nullopt;
      written.second = *second;
      if (cursor.take('.')) {
        // One to nine digits, of which the milliseconds count.
        const auto first3 = cursor.digits(3, true);
        if (!first3) return std::nullopt;
        int millis = *first3;
        for (std::size_t width = cursor.lastWidth(); width < 3; ++width) millis *= 10;
        if (cursor.lastWidth() == 3) cursor.digits(6, true);
        written.fraction = std::chrono::milliseconds(millis);
      }
    }
  }
  if (cursor.take('Z') || cursor.take('z')) {
    written.offset = std::chrono::minutes(0);
  } else if (const auto sign = cursor.peek(); sign && (*sign == '+' || *sign == '-')) {
    cursor.take(*sign);
    const auto hours = cursor.digits(2);
    if (!hours) return std::nullopt;
    cursor.take(':');
    const auto minutes = cursor.digits(2);
    if (!minutes || *hours > 23 || *minutes > 59) return std::nullopt;
    const auto offset = std::chrono::hours(*hours) + std::chrono::minutes(*minutes);
    written.offset = *sign == '+' ? offset : -offset;
  }
  if (!cursor.atEnd()) return std::nullopt;
  return written;
}

std::optional<system_clock::time_point> isoTime(const std::string& text) {
  const std::optional<Written> parts = readIso(text);
  if (!parts) return std::nullopt;
  const std::chrono::year_month_day date{std::chrono::year(parts->year),
                                         std::chrono::month(static_cast<unsigned>(parts->month)),
                                         std::chrono::day(static_cast<unsigned>(parts->day))};
  const int hour = parts->hour, minute = parts->minute, second = parts->second;
  if (!date.ok() || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  const std::chrono::milliseconds fraction = parts->fraction;
  const auto clock = std::chrono::hours(hour) + std::chrono::minutes(minute) +
                     std::chrono::seconds(second) + fraction;
  if (parts->offset) {
    const auto utc = system_clock::time_point(std::chrono::sys_days(date)) + clock;
    return utc - *parts->offset;
  }
  // A time without a zone is the station's own local time.
  std::tm local{};
  local.tm_year = parts->year - 1900;
  local.tm_mon = parts->month - 1;
  local.tm_mday = parts->day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  const std::time_t seconds = std::mktime(&local);
  if (seconds == static_cast<std::time_t>(-1)) return std::nullopt;
  return system_clock::from_time_t(seconds) + fraction;
}

}  // namespace

std::optional<system_clock::time_point> sinceTime(const std::string& text,
                                                  system_clock::time_point now) {
  if (auto time = ago(text, now)) return time;
  return isoTime(text);
}

}  // namespace voltrix::cli

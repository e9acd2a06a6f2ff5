#include "cli/SinceTime.h"

#include <algorithm>
#include <ctime>
#include <regex>

namespace voltrix::cli {

namespace {

using std::chrono::system_clock;

// At most ten years back: anything longer is a typing mistake.
constexpr long long kLongestHours = 10LL * 366 * 24;

std::optional<system_clock::time_point> ago(const std::string& text, system_clock::time_point now) {
  static const std::regex duration("([0-9]{1,7})([smhd])");
  std::smatch parts;
  if (!std::regex_match(text, parts, duration)) return std::nullopt;
  const long long count = std::stoll(parts[1].str());
  const char unit = parts[2].str()[0];
  const long long perUnit = unit == 's' ? 1 : unit == 'm' ? 60 : unit == 'h' ? 3600 : 86400;
  if (count < 1 || count * perUnit > kLongestHours * 3600) return std::nullopt;
  return now - std::chrono::seconds(count * perUnit);
}

std::optional<system_clock::time_point> isoTime(const std::string& text) {
  static const std::regex iso(
      "([0-9]{4})-([0-9]{2})-([0-9]{2})"
      "(?:[T ]([0-9]{2}):([0-9]{2})(?::([0-9]{2})(?:\\.([0-9]{1,9}))?)?)?"
      "(Z|z|[+-][0-9]{2}:?[0-9]{2})?");
  std::smatch parts;
  if (!std::regex_match(text, parts, iso)) return std::nullopt;
  const auto number = [&parts](int group) {
    return parts[group].matched ? std::stoi(parts[group].str()) : 0;
  };
  const std::chrono::year_month_day date{std::chrono::year(number(1)),
                                         std::chrono::month(static_cast<unsigned>(number(2))),
                                         std::chrono::day(static_cast<unsigned>(number(3)))};
  const int hour = number(4), minute = number(5), second = number(6);
  if (!date.ok() || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  std::chrono::milliseconds fraction{0};
  if (parts[7].matched) {
    const std::string digits = (parts[7].str() + "00").substr(0, 3);
    fraction = std::chrono::milliseconds(std::stoi(digits));
  }
  const auto clock = std::chrono::hours(hour) + std::chrono::minutes(minute) +
                     std::chrono::seconds(second) + fraction;
  if (parts[8].matched) {
    std::string zone = parts[8].str();
    auto utc = system_clock::time_point(std::chrono::sys_days(date)) + clock;
    if (zone == "Z" || zone == "z") return utc;
    zone.erase(std::remove(zone.begin(), zone.end(), ':'), zone.end());
    const int offsetHours = std::stoi(zone.substr(1, 2));
    const int offsetMinutes = std::stoi(zone.substr(3, 2));
    if (offsetHours > 23 || offsetMinutes > 59) return std::nullopt;
    const auto offset = std::chrono::hours(offsetHours) + std::chrono::minutes(offsetMinutes);
    return zone[0] == '+' ? utc - offset : utc + offset;
  }
  // A time without a zone is the station's own local time.
  std::tm local{};
  local.tm_year = number(1) - 1900;
  local.tm_mon = number(2) - 1;
  local.tm_mday = number(3);
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

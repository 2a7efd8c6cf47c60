#pragma once

#include <cstdint>
#include <optional>

namespace drovanta {

// A moment in UTC, split into its calendar fields.
struct UtcDateTime {
  int year = 1970;  // 1 to 9999
  int month = 1;    // 1 to 12
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int weekday = 4;  // 0 Sunday .. 6 Saturday
};

// Seconds since 1970-01-01 00:00:00 UTC of the first and the last second a timestamp can show:
// 0001-01-01 00:00:00 and 9999-12-31 23:59:59.
inline constexpr std::int64_t kFirstUtcSecond = -62135596800;
inline constexpr std::int64_t kLastUtcSecond = 253402300799;

inline bool InUtcRange(std::int64_t seconds) {
  return seconds >= kFirstUtcSecond && seconds <= kLastUtcSecond;
}

// The calendar fields of a count of seconds since the epoch (proleptic Gregorian calendar).
UtcDateTime UtcDateTimeFromSeconds(std::int64_t seconds);

// Whether the date exists in the proleptic Gregorian calendar (a 29 February only in leap years).
bool IsCalendarDate(int year, int month, int day);

// Seconds since the epoch of a date (which must exist) and a time of day, both in UTC.
std::int64_t SecondsSinceEpoch(int year, int month, int day, int hour, int minute, int second);

}  // namespace drovanta

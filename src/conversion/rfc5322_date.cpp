#include "conversion/rfc5322_date.h"

#include <gmime/gmime.h>

#include <chrono>
#include <string>

#include "conversion/gmime_setup.h"
#include "conversion/header_fields.h"
#include "conversion/utc_date_time.h"

namespace drovanta {

namespace {

struct DateTimeRef {
  GDateTime* ptr;
  ~DateTimeRef() {
    if (ptr != nullptr) g_date_time_unref(ptr);
  }
};

bool isMonthName(std::string_view token) {
  static constexpr std::string_view kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                 "jul", "aug", "sep", "oct", "nov", "dec"};
  if (token.size() < 3) return false;
  char lower[3];
  for (int i = 0; i < 3; ++i)
    lower[i] = static_cast<char>(token[i] >= 'A' && token[i] <= 'Z' ? token[i] + 32 : token[i]);
  for (const auto month : kMonths)
    if (month == std::string_view(lower, 3)) return true;
  return false;
}

bool allDigits(std::string_view token) {
  if (token.empty()) return false;
  for (const char c : token)
    if (c < '0' || c > '9') return false;
  return true;
}

// The year written after the month name ("1 Mar 24 ..."): where it is and the year it means.
// Two-digit years read as RFC 5322 says (00-49 the 2000s, 50-99 the 1900s), three-digit years
// plus 1900.
struct WrittenYear {
  std::size_t begin = 0;
  std::size_t length = 0;
  int year = 0;
};

std::optional<WrittenYear> findWrittenYear(std::string_view date) {
  // In "[ddd,] d mmm yy ..." the year follows the month, which follows the day; in the ctime
  // form "ddd mmm d hh:mm:ss yyyy" a day follows the month, and GMime reads it correctly.
  std::string_view previous;
  bool afterDayAndMonth = false;
  std::size_t i = 0;
  const auto separator = [](char c) {
    return c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\n';
  };
  while (i < date.size()) {
    while (i < date.size() && separator(date[i])) ++i;
    const std::size_t begin = i;
    while (i < date.size() && !separator(date[i])) ++i;
    const std::string_view token = date.substr(begin, i - begin);
    if (token.empty()) break;
    if (afterDayAndMonth) {
      if (!allDigits(token) || token.size() < 2 || token.size() > 4) return std::nullopt;
      int value = 0;
      for (const char c : token) value = value * 10 + (c - '0');
      if (token.size() == 2) value += value < 50 ? 2000 : 1900;
      if (token.size() == 3) value += 1900;
      return WrittenYear{begin, token.size(), value};
    }
    afterDayAndMonth = isMonthName(token) && allDigits(previous) && previous.size() <= 2;
    previous = token;
  }
  return std::nullopt;
}

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

// The Date header as seconds since the epoch, or nothing when GMime cannot read it. GMime reads
// two-digit years 50-69 as 2050-2069 and rejects three-digit years and years before 1969, so it
// is handed a stand-in year of the same leap kind; the written year is put back afterwards.
std::optional<std::int64_t> parseDateHeader(const char* header) {
  std::string date(header);
  const auto written = findWrittenYear(date);
  if (written)
    date.replace(written->begin, written->length,
                 std::chrono::year{written->year}.is_leap() ? "2000" : "2001");
  EnsureGMime();
  DateTimeRef parsed{g_mime_utils_header_decode_date(date.c_str())};
  if (parsed.ptr == nullptr) return std::nullopt;
  std::int64_t seconds = g_date_time_to_unix(parsed.ptr);
  if (written) {
    seconds = SecondsSinceEpoch(
                  written->year, g_date_time_get_month(parsed.ptr),
                  g_date_time_get_day_of_month(parsed.ptr), g_date_time_get_hour(parsed.ptr),
                  g_date_time_get_minute(parsed.ptr), g_date_time_get_second(parsed.ptr)) -
              g_date_time_get_utc_offset(parsed.ptr) / G_TIME_SPAN_SECOND;
  }
  if (!InUtcRange(seconds)) return std::nullopt;
  return seconds;
}

// The date form nearly every message carries, "[Ddd, ]D Mmm YYYY HH:MM:SS +HHMM" on one line
// and nothing else, read without GMime; any other form (a comment, a zone name, a fold, a
// two-digit year, an impossible day) is left to parseDateHeader. Reads the raw field value.
std::optional<std::int64_t> parseCommonDate(std::string_view raw) {
  while (!raw.empty() && (isBlank(raw.front()) || raw.front() == '\r' || raw.front() == '\n'))
    raw.remove_prefix(1);
  while (!raw.empty() && (isBlank(raw.back()) || raw.back() == '\r' || raw.back() == '\n'))
    raw.remove_suffix(1);
  std::size_t at = 0;
  const auto digits = [&](std::size_t count, int& value) {
    if (at + count > raw.size()) return false;
    value = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const char c = raw[at + i];
      if (c < '0' || c > '9') return false;
      value = value * 10 + (c - '0');
    }
    at += count;
    return true;
  };
  const auto literal = [&](char c) {
    if (at >= raw.size() || raw[at] != c) return false;
    ++at;
    return true;
  };
  const auto nameOf = [&](const std::string_view* names, int count, int& index) {
    if (at + 3 > raw.size()) return false;
    for (index = 0; index < count; ++index) {
      if (raw.substr(at, 3) == names[index]) {
        at += 3;
        return true;
      }
    }
    return false;
  };
  static constexpr std::string_view kWeekdays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
  static constexpr std::string_view kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  int weekday = 0;
  if (nameOf(kWeekdays, 7, weekday) && !(literal(',') && literal(' '))) return std::nullopt;
  int day = 0;
  if (!digits(2, day)) {
    if (!digits(1, day)) return std::nullopt;
  }
  int month = 0;
  int year = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int zoneHours = 0;
  int zoneMinutes = 0;
  if (!literal(' ') || !nameOf(kMonths, 12, month) || !literal(' ') || !digits(4, year) ||
      !literal(' ') || !digits(2, hour) || !literal(':') || !digits(2, minute) || !literal(':') ||
      !digits(2, second) || !literal(' ') || at >= raw.size())
    return std::nullopt;
  const char sign = raw[at++];
  if ((sign != '+' && sign != '-') || !digits(2, zoneHours) || !digits(2, zoneMinutes) ||
      at != raw.size())
    return std::nullopt;
  ++month;
  if (year < 1 || !IsCalendarDate(year, month, day) || hour > 23 || minute > 59 || second > 59 ||
      zoneHours > 23 || zoneMinutes > 59)
    return std::nullopt;
  const int zone = (sign == '-' ? -1 : 1) * (zoneHours * 3600 + zoneMinutes * 60);
  const std::int64_t seconds = SecondsSinceEpoch(year, month, day, hour, minute, second) - zone;
  if (!InUtcRange(seconds)) return std::nullopt;
  return seconds;
}

}  // namespace

std::optional<std::int64_t> ReadDateField(std::string_view raw) {
  if (const auto seconds = parseCommonDate(raw)) return seconds;
  return parseDateHeader(DecodedFieldValue(raw).c_str());
}

}  // namespace drovanta

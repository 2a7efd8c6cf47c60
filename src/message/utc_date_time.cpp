#include "message/utc_date_time.h"

#include <chrono>

namespace drovanta {

namespace {

std::chrono::year_month_day civil(int year, int month, int day) {
  return std::chrono::year{year} / std::chrono::month{static_cast<unsigned>(month)} /
         std::chrono::day{static_cast<unsigned>(day)};
}

}  // namespace

UtcDateTime UtcDateTimeFromSeconds(std::int64_t seconds) {
  using namespace std::chrono;
  const sys_seconds moment{std::chrono::seconds{seconds}};
  const sys_days date = floor<days>(moment);
  const year_month_day ymd{date};
  const hh_mm_ss time{moment - date};
  UtcDateTime fields;
  fields.year = static_cast<int>(ymd.year());
  fields.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  fields.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
  fields.hour = static_cast<int>(time.hours().count());
  fields.minute = static_cast<int>(time.minutes().count());
  fields.second = static_cast<int>(time.seconds().count());
  fields.weekday = static_cast<int>(weekday{date}.c_encoding());
  return fields;
}

bool IsCalendarDate(int year, int month, int day) {
  return month >= 1 && month <= 12 && day >= 1 && day <= 31 && civil(year, month, day).ok();
}

std::int64_t SecondsSinceEpoch(int year, int month, int day, int hour, int minute, int second) {
  const std::chrono::sys_days date{civil(year, month, day)};
  return std::int64_t{date.time_since_epoch().count()} * 86400 + hour * 3600 + minute * 60 + second;
}

}  // namespace drovanta

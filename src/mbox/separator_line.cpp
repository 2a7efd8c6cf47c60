#include "mbox/separator_line.h"

#include <chrono>

namespace drovanta {

namespace {

constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// 0 Sunday .. 6 Saturday; a day past the month's end (clamped fields) counts on into the next.
unsigned weekdayOf(int year, int month, int day) {
  using namespace std::chrono;
  const auto date = std::chrono::year{year} / static_cast<unsigned>(month) / 1;
  return weekday{sys_days{date} + days{day - 1}}.c_encoding();
}

void appendDigits(std::string& out, int value, int width) {
  char digits[8];
  for (int i = width - 1; i >= 0; --i) {
    digits[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  out.append(digits, static_cast<std::size_t>(width));
}

}  // namespace

std::string FormatTimestamp(const UtcDateTime& moment) {
  // Out-of-range fields are clamped so that the line keeps its fixed shape.
  const auto clamp = [](int value, int low, int high) {
    return value < low ? low : (value > high ? high : value);
  };
  const int year = clamp(moment.year, 1, 9999);
  const int month = clamp(moment.month, 1, 12);
  const int day = clamp(moment.day, 1, 31);
  std::string text;
  text.reserve(24);
  text += kWeekdays[weekdayOf(year, month, day)];
  text += ' ';
  text += kMonths[month - 1];
  text += ' ';
  appendDigits(text, day, 2);
  text += ' ';
  appendDigits(text, clamp(moment.hour, 0, 23), 2);
  text += ':';
  appendDigits(text, clamp(moment.minute, 0, 59), 2);
  text += ':';
  appendDigits(text, clamp(moment.second, 0, 59), 2);
  text += ' ';
  appendDigits(text, year, 4);
  return text;
}

std::string BuildSeparatorLine(std::string_view sender, const UtcDateTime& date) {
  std::string line = "From ";
  line += sender;
  line += ' ';
  line += FormatTimestamp(date);
  return line;
}

}  // namespace drovanta

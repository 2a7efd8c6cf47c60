#include "message/rfc5322_date.h"

#include <array>
#include <cstdint>

#include "message/header_fields.h"
#include "message/utc_date_time.h"

namespace drovanta {

namespace {

bool isWhite(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A name of one to four letters as one number, regardless of case; 0 for any other token.
constexpr std::uint32_t packed(std::string_view token) {
  if (token.size() > 4) return 0;
  std::uint32_t key = 0;
  for (const char c : token) key = key << 8 | static_cast<unsigned char>(c | 0x20);
  return key;
}

// Index of `token` in `names` (packed), regardless of case; -1 when it is none of them.
template <std::size_t N>
int indexOf(std::string_view token, const std::array<std::uint32_t, N>& names) {
  const std::uint32_t key = packed(token);
  for (std::size_t i = 0; i < N; ++i)
    if (names[i] == key) return static_cast<int>(i);
  return -1;
}

constexpr std::array<std::uint32_t, 7> kDayNames = {packed("mon"), packed("tue"), packed("wed"),
                                                    packed("thu"), packed("fri"), packed("sat"),
                                                    packed("sun")};
constexpr std::array<std::uint32_t, 12> kMonthNames = {
    packed("jan"), packed("feb"), packed("mar"), packed("apr"), packed("may"), packed("jun"),
    packed("jul"), packed("aug"), packed("sep"), packed("oct"), packed("nov"), packed("dec")};
// The zone names RFC 5322 gives a meaning; their offsets from UTC in hours.
constexpr std::array<std::uint32_t, 10> kZoneNames = {
    packed("ut"),  packed("gmt"), packed("est"), packed("edt"), packed("cst"),
    packed("cdt"), packed("mst"), packed("mdt"), packed("pst"), packed("pdt")};
constexpr std::array<int, 10> kZoneHours = {0, 0, -5, -4, -6, -5, -7, -6, -8, -7};

// Walks the text token by token.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}

  // Skips folding white space and comments (nested, with quoted pairs). False when a comment is
  // left open; `skipped` says whether anything was passed over.
  bool skipSpaceAndComments(bool* skipped = nullptr) {
    const std::size_t from = at_;
    for (;;) {
      while (at_ < text_.size() && isWhite(text_[at_])) ++at_;
      if (at_ == text_.size() || text_[at_] != '(') break;
      int depth = 0;
      do {
        if (at_ == text_.size()) return false;
        const char c = text_[at_++];
        if (c == '\\') {
          if (at_ < text_.size()) ++at_;
        } else if (c == '(') {
          ++depth;
        } else if (c == ')') {
          --depth;
        }
      } while (depth > 0);
    }
    if (skipped != nullptr) *skipped = at_ > from;
    return true;
  }

  std::string_view letters() { return run<isLetter>(); }
  std::string_view digits() { return run<isDigit>(); }

  bool take(char c) {
    if (at_ == text_.size() || text_[at_] != c) return false;
    ++at_;
    return true;
  }
  char peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }
  bool atEnd() const { return at_ == text_.size(); }

 private:
  template <bool (*belongs)(char)>
  std::string_view run() {
    const std::size_t from = at_;
    while (at_ < text_.size() && belongs(text_[at_])) ++at_;
    return text_.substr(from, at_ - from);
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

int valueOf(std::string_view digits) {
  int value = 0;
  for (const char c : digits) value = value * 10 + (c - '0');
  return value;
}

// A two-digit number (hour, minute, second) with the white space and comments after it.
bool twoDigits(Cursor& in, int& value, bool* spaceAfter = nullptr) {
  const std::string_view digits = in.digits();
  if (digits.size() != 2) return false;
  value = valueOf(digits);
  return in.skipSpaceAndComments(spaceAfter);
}

// The zone's offset from UTC in seconds. A numeric zone is a sign and four digits after white
// space; one beyond +-23:59 is no real zone and, like a military or unknown name, means -0000.
std::optional<int> zoneOffset(Cursor& in, bool spaceBefore) {
  if (in.peek() == '+' || in.peek() == '-') {
    const int sign = in.peek() == '-' ? -1 : 1;
    in.take(in.peek());
    const std::string_view digits = in.digits();
    if (!spaceBefore || digits.size() != 4) return std::nullopt;
    const int hours = valueOf(digits.substr(0, 2));
    const int minutes = valueOf(digits.substr(2));
    if (hours > 23 || minutes > 59) return 0;
    return sign * (hours * 3600 + minutes * 60);
  }
  const std::string_view name = in.letters();
  if (name.empty()) return std::nullopt;
  const int known = indexOf(name, kZoneNames);
  return known < 0 ? 0 : kZoneHours[static_cast<std::size_t>(known)] * 3600;
}

}  // namespace

std::optional<std::int64_t> ParseRfc5322Date(std::string_view text) {
  Cursor in(text);
  if (!in.skipSpaceAndComments()) return std::nullopt;
  // [day-of-week ","]: the name is checked, not that it matches the date.
  if (isLetter(in.peek())) {
    if (indexOf(in.letters(), kDayNames) < 0 || !in.skipSpaceAndComments() || !in.take(',') ||
        !in.skipSpaceAndComments())
      return std::nullopt;
  }
  const std::string_view dayDigits = in.digits();
  if (dayDigits.empty() || dayDigits.size() > 2 || !in.skipSpaceAndComments()) return std::nullopt;
  const int month = indexOf(in.letters(), kMonthNames) + 1;
  if (month == 0 || !in.skipSpaceAndComments()) return std::nullopt;
  // Two-digit years are 1950 to 2049, three-digit years count from 1900.
  const std::string_view yearDigits = in.digits();
  if (yearDigits.size() < 2 || yearDigits.size() > 9 || !in.skipSpaceAndComments())
    return std::nullopt;
  int year = valueOf(yearDigits);
  if (yearDigits.size() == 2) year += year < 50 ? 2000 : 1900;
  if (yearDigits.size() == 3) year += 1900;

  int hour = 0;
  int minute = 0;
  int second = 0;
  bool spaceBeforeZone = false;
  if (!twoDigits(in, hour) || !in.take(':') || !in.skipSpaceAndComments() ||
      !twoDigits(in, minute, &spaceBeforeZone))
    return std::nullopt;
  if (in.take(':') && (!in.skipSpaceAndComments() || !twoDigits(in, second, &spaceBeforeZone)))
    return std::nullopt;
  const std::optional<int> zone = zoneOffset(in, spaceBeforeZone);
  if (!zone || !in.skipSpaceAndComments() || !in.atEnd()) return std::nullopt;

  const int day = valueOf(dayDigits);
  if (year > 9999 || !IsCalendarDate(year, month, day) || hour > 23 || minute > 59 || second > 60)
    return std::nullopt;
  // A leap second reads as the first second of the next minute, as POSIX time counts it.
  const std::int64_t seconds = SecondsSinceEpoch(year, month, day, hour, minute, second) - *zone;
  if (!InUtcRange(seconds)) return std::nullopt;
  return seconds;
}

std::optional<std::int64_t> ReadDateField(std::string_view raw) {
  if (const auto seconds = ParseRfc5322Date(raw)) return seconds;
  // Encoded words have no place in a Date field, but some mailers put the whole date in one.
  if (raw.find("=?") == std::string_view::npos) return std::nullopt;
  return ParseRfc5322Date(DecodedFieldValue(raw));
}

}  // namespace drovanta

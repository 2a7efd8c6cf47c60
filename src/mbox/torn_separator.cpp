#include "mbox/torn_separator.h"

#include <array>
#include <vector>

namespace drovanta {

namespace {

constexpr std::string_view kKeyword = "From ";
constexpr std::string_view kUnknownSender = "MAILER-DAEMON";
constexpr std::array<std::string_view, 7> kWeekdays = {"Mon", "Tue", "Wed", "Thu",
                                                       "Fri", "Sat", "Sun"};
constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
// February's 29th is left out: the year that would make it a real date is not known yet.
constexpr std::array<int, 12> kDaysInMonth = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

std::vector<std::string> twoDigits(int first, int last) {
  std::vector<std::string> values;
  for (int n = first; n <= last; ++n) {
    values.push_back({static_cast<char>('0' + n / 10), static_cast<char>('0' + n % 10)});
  }
  return values;
}

bool allDigits(std::string_view text) {
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// The years a torn one may be completed to: itself when whole, else a recent one.
std::vector<std::string> yearsFor(std::string_view given) {
  if (!allDigits(given)) return {};
  if (given.size() == 4) return {std::string(given)};
  std::vector<std::string> years;
  for (int year = 1970; year <= 2099; ++year) years.push_back(std::to_string(year));
  return years;
}

// The timestamp that `given` starts, whole, or nullopt when `given` is no start of one.
std::optional<std::string> completeTimestamp(std::string_view given) {
  std::string done;
  std::size_t month = 0;
  for (int field = 0; field < 7; ++field) {
    if (field > 0) {
      const char separator = field >= 4 && field <= 5 ? ':' : ' ';
      if (!given.empty() && given.front() != separator) return std::nullopt;
      if (!given.empty()) given.remove_prefix(1);
      done += separator;
    }
    std::vector<std::string> candidates;
    std::size_t width = 2;
    switch (field) {
      case 0:
        candidates.assign(kWeekdays.begin(), kWeekdays.end());
        width = 3;
        break;
      case 1:
        candidates.assign(kMonths.begin(), kMonths.end());
        width = 3;
        break;
      case 2:
        candidates = twoDigits(1, kDaysInMonth[month]);
        break;
      case 3:
        candidates = twoDigits(0, 23);
        break;
      case 4:
      case 5:
        candidates = twoDigits(0, 59);
        break;
      default:
        width = 4;
        candidates = yearsFor(given.substr(0, width));
    }
    const std::string_view part = given.substr(0, width);
    std::size_t chosen = 0;
    while (chosen < candidates.size() && !candidates[chosen].starts_with(part)) ++chosen;
    if (chosen == candidates.size()) return std::nullopt;
    if (field == 1) month = chosen;
    done += candidates[chosen];
    given.remove_prefix(part.size());
    if (part.size() < width && !given.empty()) return std::nullopt;
  }
  if (!given.empty()) return std::nullopt;  // longer than a timestamp: another form
  return done;
}

}  // namespace

std::optional<std::string> TornSeparatorCompletion(std::string_view line) {
  if (line.size() < kKeyword.size()) {
    if (!kKeyword.starts_with(line)) return std::nullopt;
    std::string completion(kKeyword.substr(line.size()));
    completion.append(kUnknownSender).append(" ").append(*completeTimestamp({}));
    return completion;
  }
  if (!line.starts_with(kKeyword)) return std::nullopt;
  const std::string_view rest = line.substr(kKeyword.size());
  const std::size_t blank = rest.find(' ');
  const std::string_view sender = rest.substr(0, blank);
  for (const char c : sender) {
    if (c <= ' ' || c > '~') return std::nullopt;
  }
  if (blank == std::string_view::npos) {
    std::string completion(sender.empty() ? kUnknownSender : "");
    completion.append(" ").append(*completeTimestamp({}));
    return completion;
  }
  if (sender.empty()) return std::nullopt;  // "From  ": no form of ours
  const std::string_view given = rest.substr(blank + 1);
  const std::optional<std::string> whole = completeTimestamp(given);
  if (!whole) return std::nullopt;
  return whole->substr(given.size());
}

}  // namespace drovanta

#include "conversion/mail_message.h"

#include <fcntl.h>
#include <gmime/gmime.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "conversion/emlx_framing.h"
#include "conversion/file_bytes.h"
#include "conversion/property_list.h"
#include "selection/emlx_name_filter.h"

namespace drovanta {

namespace {

// Most header blocks fit; a longer one doubles the read until its empty line is in.
constexpr std::size_t kFirstChunk = 4 * 1024;
// A header block larger than this is not a real one; what was read is parsed as it is.
constexpr std::size_t kHeaderLimit = 1024 * 1024;
// The property list is a few hundred bytes at the end of the file.
constexpr std::size_t kTailLimit = 64 * 1024;

// Seconds from 0001-01-01 and to 9999-12-31 23:59:59, both UTC.
constexpr std::int64_t kFirstSecond = -62135596800;
constexpr std::int64_t kLastSecond = 253402300799;

void initGMime() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

// Owns one GObject reference.
template <typename T>
struct GObjectRef {
  T* ptr = nullptr;
  explicit GObjectRef(T* p) : ptr(p) {}
  ~GObjectRef() {
    if (ptr != nullptr) g_object_unref(ptr);
  }
  GObjectRef(const GObjectRef&) = delete;
  GObjectRef& operator=(const GObjectRef&) = delete;
};

struct DateTimeRef {
  GDateTime* ptr;
  ~DateTimeRef() {
    if (ptr != nullptr) g_date_time_unref(ptr);
  }
};

// Days since 1970-01-01 of a proleptic Gregorian date, and back (Howard Hinnant's algorithms).
std::int64_t daysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

UtcDateTime fromEpochSeconds(std::int64_t seconds) {
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  UtcDateTime moment;
  moment.hour = static_cast<int>(rest / 3600);
  moment.minute = static_cast<int>(rest % 3600 / 60);
  moment.second = static_cast<int>(rest % 60);
  moment.weekday = static_cast<int>(((days + 4) % 7 + 7) % 7);  // 1970-01-01 was a Thursday

  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  moment.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  moment.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  moment.year = static_cast<int>(yoe + era * 400 + (moment.month <= 2 ? 1 : 0));
  return moment;
}

bool inRange(std::int64_t seconds) {
  return seconds >= kFirstSecond && seconds <= kLastSecond;
}

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

bool isLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// The Date header as seconds since the epoch, or nothing when GMime cannot read it. GMime reads
// two-digit years 50-69 as 2050-2069 and rejects three-digit years and years before 1969, so it
// is handed a stand-in year of the same leap kind; the written year is put back afterwards.
std::optional<std::int64_t> parseDateHeader(const char* header) {
  std::string date(header);
  const auto written = findWrittenYear(date);
  if (written)
    date.replace(written->begin, written->length, isLeapYear(written->year) ? "2000" : "2001");
  DateTimeRef parsed{g_mime_utils_header_decode_date(date.c_str())};
  if (parsed.ptr == nullptr) return std::nullopt;
  std::int64_t seconds = g_date_time_to_unix(parsed.ptr);
  if (written) {
    seconds = daysFromCivil(written->year, g_date_time_get_month(parsed.ptr),
                            g_date_time_get_day_of_month(parsed.ptr)) *
                  86400 +
              g_date_time_get_hour(parsed.ptr) * 3600 + g_date_time_get_minute(parsed.ptr) * 60 +
              g_date_time_get_second(parsed.ptr) -
              g_date_time_get_utc_offset(parsed.ptr) / G_TIME_SPAN_SECOND;
  }
  if (!inRange(seconds)) return std::nullopt;
  return seconds;
}

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

bool isControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
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
  static constexpr int kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  ++month;
  if (year < 1 || day < 1 || day > kMonthDays[month - 1] ||
      (month == 2 && day == 29 && !isLeapYear(year)) || hour > 23 || minute > 59 || second > 59 ||
      zoneHours > 23 || zoneMinutes > 59)
    return std::nullopt;
  const int zone = (sign == '-' ? -1 : 1) * (zoneHours * 3600 + zoneMinutes * 60);
  const std::int64_t seconds =
      daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second - zone;
  if (!inRange(seconds)) return std::nullopt;
  return seconds;
}

// White space or control characters make an address useless on a separator line; this also
// catches the UTF-8 forms of no-break and other Unicode spaces.
bool usableAddress(std::string_view address) {
  if (address.empty()) return false;
  const auto* b = reinterpret_cast<const unsigned char*>(address.data());
  const std::size_t n = address.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (b[i] <= 0x20 || b[i] == 0x7F) return false;
    if (b[i] == 0xC2 && i + 1 < n && b[i + 1] >= 0x80 && b[i + 1] <= 0xA0) return false;
    if (b[i] == 0xE2 && i + 2 < n && b[i + 1] == 0x80 &&
        (b[i + 2] <= 0x8B || b[i + 2] == 0xA8 || b[i + 2] == 0xA9 || b[i + 2] == 0xAF))
      return false;
    if (b[i] == 0xE3 && i + 2 < n && b[i + 1] == 0x80 && b[i + 2] == 0x80) return false;
  }
  return true;
}

// The addr-spec of the first mailbox in the list, looking inside groups.
const char* firstMailbox(InternetAddressList* list) {
  if (list == nullptr) return nullptr;
  const int count = internet_address_list_length(list);
  for (int i = 0; i < count; ++i) {
    InternetAddress* address = internet_address_list_get_address(list, i);
    if (INTERNET_ADDRESS_IS_GROUP(address)) {
      const char* inside =
          firstMailbox(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)));
      if (inside != nullptr) return inside;
    } else if (INTERNET_ADDRESS_IS_MAILBOX(address)) {
      return internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address));
    }
  }
  return nullptr;
}

// The header fields the separator line needs, found as GMime's message parser finds them, so
// that no GMime message (a header list, a MIME part, their objects) is built for each file.
struct HeaderFields {
  // False when GMime would make no message of the block: its last line is cut off inside a
  // field name. A block whose first line is not a field (nor an mbox From line) gives no
  // message either, which reads the same as a block without fields.
  bool isMessage = true;
  std::vector<std::string_view> from;  // raw values (after the colon), in order
  std::vector<std::string_view> sender;
  std::optional<std::string_view> returnPath;  // the first field of that name counts
  std::optional<std::string_view> date;
};

bool equalsIgnoringCase(std::string_view text, std::string_view lowerName) {
  if (text.size() != lowerName.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
    if (c != lowerName[i]) return false;
  }
  return true;
}

enum class FieldName { Colon, Invalid, CutOff };

// Scans a field name from the start of `line`: blanks may stand between the name and its colon
// but not inside the name, and no control character may. `stop` is where the scan stopped.
FieldName scanFieldName(std::string_view line, std::size_t& stop) {
  stop = 0;
  if (line.starts_with(':')) return FieldName::Invalid;  // a field needs a name
  bool blank = false;
  for (; stop < line.size(); ++stop) {
    const char c = line[stop];
    if (c == ':') return FieldName::Colon;
    if (isBlank(c)) {
      blank = true;
    } else if (blank || isControl(c)) {
      return FieldName::Invalid;
    }
  }
  return FieldName::CutOff;
}

// An mbox "From " line (or ">From ") may stand before the first field; GMime passes over it.
bool isMboxFromLine(std::string_view scanned) {
  if (scanned.starts_with('>')) scanned.remove_prefix(1);
  return scanned.starts_with("From ");
}

// Splits the header block into fields the way GMime does: a line that starts with a blank
// continues the open field; any other line starts a new one; an invalid field after the first
// valid one is dropped; an empty line ends the block. A value keeps its folds and line ends
// and ends at a NUL byte, as GMime's copy of it does.
HeaderFields findHeaderFields(std::string_view block) {
  HeaderFields fields;
  std::size_t validFields = 0;
  std::size_t fieldBegin = std::string_view::npos;  // the open field, if any
  std::size_t fieldColon = 0;
  bool fieldValid = false;

  const auto closeField = [&](std::size_t end) {
    if (fieldBegin == std::string_view::npos) return;
    const std::size_t begin = fieldBegin;
    fieldBegin = std::string_view::npos;
    if (!fieldValid) return;
    ++validFields;
    std::string_view name = block.substr(begin, fieldColon - begin);
    while (!name.empty() && isBlank(name.back())) name.remove_suffix(1);
    std::string_view value = block.substr(fieldColon + 1, end - fieldColon - 1);
    value = value.substr(0, value.find('\0'));
    if (equalsIgnoringCase(name, "from")) {
      fields.from.push_back(value);
    } else if (equalsIgnoringCase(name, "sender")) {
      fields.sender.push_back(value);
    } else if (equalsIgnoringCase(name, "return-path")) {
      if (!fields.returnPath) fields.returnPath = value;
    } else if (equalsIgnoringCase(name, "date")) {
      if (!fields.date) fields.date = value;
    }
  };

  std::size_t pos = 0;
  while (pos < block.size()) {
    const void* lf = std::memchr(block.data() + pos, '\n', block.size() - pos);
    const std::size_t lineEnd =
        lf == nullptr ? block.size()
                      : static_cast<std::size_t>(static_cast<const char*>(lf) - block.data()) + 1;
    const std::string_view line = block.substr(pos, lineEnd - pos);
    if (fieldBegin != std::string_view::npos && isBlank(line[0])) {
      pos = lineEnd;  // a folded line of the open field
      continue;
    }
    closeField(pos);
    // An empty line ends the block (a CR alone at the very end reads as one too).
    if (line[0] == '\n' || (line[0] == '\r' && (line.size() == 1 || line[1] == '\n'))) break;

    std::size_t stop = 0;
    const FieldName name = scanFieldName(line, stop);
    if (name == FieldName::CutOff) {
      fields = HeaderFields{};
      fields.isMessage = false;
      return fields;
    }
    if (name == FieldName::Invalid && validFields == 0) {
      if (!isMboxFromLine(line.substr(0, stop))) return HeaderFields{};
      pos = lineEnd;
      continue;
    }
    fieldBegin = pos;
    fieldColon = pos + stop;
    fieldValid = name == FieldName::Colon;
    pos = lineEnd;
  }
  closeField(pos);
  return fields;
}

// A raw value as GMime hands it out: unfolded, encoded words decoded.
struct DecodedValue {
  char* decoded;
  const char* text;
  explicit DecodedValue(std::string_view raw) {
    const std::string terminated(raw);
    char* unfolded = g_mime_utils_header_unfold(terminated.c_str());
    decoded = g_mime_utils_header_decode_text(nullptr, unfolded);
    g_free(unfolded);
    text = decoded != nullptr ? decoded : "";
  }
  ~DecodedValue() { g_free(decoded); }
  DecodedValue(const DecodedValue&) = delete;
  DecodedValue& operator=(const DecodedValue&) = delete;
};

// The address forms nearly every message carries, "Display Name <local@domain>" or a bare
// "local@domain", with plain words and atoms only, read without GMime. Anything else (quotes,
// comments, encoded words, several addresses, 8-bit text, punycode domains, which GMime
// decodes) is left to GMime: nullopt.
std::optional<std::string_view> commonAddress(std::string_view raw) {
  const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  const auto isAlnum = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  };
  while (!raw.empty() && isSpace(raw.front())) raw.remove_prefix(1);
  while (!raw.empty() && isSpace(raw.back())) raw.remove_suffix(1);
  if (raw.ends_with('>')) {
    const std::size_t open = raw.find('<');
    if (open == std::string_view::npos) return std::nullopt;
    // A dot only right after a letter or digit ("John Q. Public").
    for (std::size_t i = 0; i < open; ++i) {
      const char c = raw[i];
      if (c == '.' ? i == 0 || !isAlnum(raw[i - 1])
                   : !isAlnum(c) && !isSpace(c) && c != '-' && c != '_' && c != '\'')
        return std::nullopt;
    }
    raw = raw.substr(open + 1, raw.size() - open - 2);
  }
  // Dot-separated runs of letters, digits and a few atom characters, no empty run.
  const auto dotAtom = [&](std::string_view text, std::string_view extra) {
    if (text.empty() || text.front() == '.' || text.back() == '.') return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      if (c == '.') {
        if (text[i - 1] == '.') return false;
      } else if (!isAlnum(c) && extra.find(c) == std::string_view::npos) {
        return false;
      }
    }
    return true;
  };
  const std::size_t at = raw.find('@');
  if (at == std::string_view::npos) return std::nullopt;
  const std::string_view local = raw.substr(0, at);
  const std::string_view domain = raw.substr(at + 1);
  if (!dotAtom(local, "_+-") || !dotAtom(domain, "-")) return std::nullopt;
  for (std::size_t i = 0; i + 4 <= domain.size(); ++i) {
    if ((domain[i] | 0x20) == 'x' && (domain[i + 1] | 0x20) == 'n' && domain[i + 2] == '-' &&
        domain[i + 3] == '-')
      return std::nullopt;
  }
  return raw;
}

// The addr-spec of the first mailbox in one address field, read from its raw value as GMime's
// message reads it; empty when there is none. internet_address_list_parse gives nothing for a
// list it cannot finish (an unclosed comment, say), where a message keeps the addresses read
// before the fault, so such a field is read through a message of that field alone.
std::string firstMailboxIn(const char* name, std::string_view raw) {
  if (const auto address = commonAddress(raw)) return std::string(*address);
  const std::string value(raw);
  {
    GObjectRef<InternetAddressList> list(internet_address_list_parse(nullptr, value.c_str()));
    if (list.ptr != nullptr) {
      const char* address = firstMailbox(list.ptr);
      return address != nullptr ? address : "";
    }
  }
  std::string text = std::string(name) + ":" + value;
  if (!text.ends_with('\n')) text += '\n';
  text += '\n';
  GObjectRef<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(text.data(), text.size()));
  GObjectRef<GMimeParser> parser(g_mime_parser_new_with_stream(stream.ptr));
  GObjectRef<GMimeMessage> message(g_mime_parser_construct_message(parser.ptr, nullptr));
  if (message.ptr == nullptr) return {};
  const char* address =
      firstMailbox(std::string_view(name) == "From" ? g_mime_message_get_from(message.ptr)
                                                    : g_mime_message_get_sender(message.ptr));
  return address != nullptr ? address : "";
}

// The first mailbox over all the fields of one name, as GMime joins their address lists.
std::string firstMailboxOf(const char* name, const std::vector<std::string_view>& values) {
  for (const std::string_view raw : values) {
    std::string address = firstMailboxIn(name, raw);
    if (!address.empty()) return address;
  }
  return {};
}

std::string senderOf(const HeaderFields& fields) {
  if (fields.isMessage) {
    for (const auto& [name, values] :
         {std::pair{"From", &fields.from}, std::pair{"Sender", &fields.sender}}) {
      const std::string address = firstMailboxOf(name, *values);
      if (!address.empty() && usableAddress(address)) return address;
    }
    if (fields.returnPath) {
      const DecodedValue returnPath(*fields.returnPath);
      std::string_view path(returnPath.text);
      while (!path.empty() && (path.front() == ' ' || path.front() == '\t')) path.remove_prefix(1);
      while (!path.empty() && (path.back() == ' ' || path.back() == '\t')) path.remove_suffix(1);
      if (path.starts_with('<')) {
        const std::size_t close = path.find('>');
        path = path.substr(1, close == std::string_view::npos ? path.size() - 1 : close - 1);
      }
      if (usableAddress(path)) return std::string(path);
    }
  }
  return "MAILER-DAEMON";
}

// Where the header block ends: just after the empty line that closes it, or npos.
std::size_t headerBlockEnd(std::string_view message) {
  std::size_t pos = 0;
  if (message.starts_with("\n")) return 1;
  if (message.starts_with("\r\n")) return 2;
  while (pos < message.size()) {
    const void* lf = std::memchr(message.data() + pos, '\n', message.size() - pos);
    if (lf == nullptr) return std::string_view::npos;
    const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(lf) - message.data());
    if (at + 1 < message.size() && message[at + 1] == '\n') return at + 2;
    if (at + 2 < message.size() && message[at + 1] == '\r' && message[at + 2] == '\n')
      return at + 3;
    pos = at + 1;
  }
  return std::string_view::npos;
}

// The last property list in the text: a line that starts "<?xml" through the last "</plist>".
std::string_view lastPropertyList(std::string_view text) {
  const std::size_t end = text.rfind("</plist>");
  if (end == std::string_view::npos) return {};
  std::size_t begin = text.rfind("<?xml", end);
  while (begin != std::string_view::npos && begin > 0 && text[begin - 1] != '\n' &&
         text[begin - 1] != '\r')
    begin = text.rfind("<?xml", begin - 1);
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, end + 8 - begin);
}

std::optional<std::int64_t> plistDate(std::string_view xml) {
  const EmlxProperties properties = ParsePropertyList(xml);
  // Apple Mail writes 0 for a date it does not know.
  for (const auto& value : {properties.dateReceived, properties.dateSent}) {
    if (!value || *value <= 0 || *value > static_cast<double>(kLastSecond)) continue;
    return static_cast<std::int64_t>(std::floor(*value));
  }
  return std::nullopt;
}

class FileReader {
 public:
  ~FileReader() {
    if (fd_ >= 0) ::close(fd_);
  }

  // Opens a regular file without blocking on FIFOs or devices. On failure `error` says why.
  bool open(const std::string& path, std::string& error) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
      error = std::strerror(errno);
      return false;
    }
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
      error = std::strerror(errno);
      return false;
    }
    if (S_ISDIR(info.st_mode)) {
      error = std::strerror(EISDIR);
      return false;
    }
    if (!S_ISREG(info.st_mode)) {
      error = "not a regular file";
      return false;
    }
    size_ = static_cast<std::size_t>(info.st_size);
    mtime_ = static_cast<std::int64_t>(info.st_mtime);
    return true;
  }

  // Reads up to `length` bytes at `offset` into `into`; the count read is in `got`. False on a
  // read error.
  bool readAt(std::size_t offset, std::size_t length, char* into, std::size_t& got,
              std::string& error) {
    got = 0;
    while (got < length) {
      const ssize_t n = ::pread(fd_, into + got, length - got, static_cast<off_t>(offset + got));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        error = std::strerror(errno);
        return false;
      }
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    return true;
  }

  std::size_t size() const { return size_; }
  std::int64_t mtime() const { return mtime_; }

 private:
  int fd_ = -1;
  std::size_t size_ = 0;
  std::int64_t mtime_ = 0;
};

// The start of the file, kept from one message to the next: a fresh zero-filled buffer for every
// message cost more than reading it. It grows, keeping what it holds, up to kHeaderLimit.
class HeadBuffer {
 public:
  char* reserve(std::size_t size, std::size_t keep) {
    if (size > capacity_) {
      std::unique_ptr<char[]> bigger(new char[size]);
      if (keep > 0) std::memcpy(bigger.get(), data_.get(), keep);
      data_ = std::move(bigger);
      capacity_ = size;
    }
    return data_.get();
  }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t capacity_ = 0;
};

// Where the header block and the property list are read from: the file itself, a chunk at a
// time, or the bytes of the whole file read before. Both give the same views of the same bytes.
class FileSource {
 public:
  virtual ~FileSource() = default;
  // The first `length` bytes, or all of them when the file is shorter; false on a read error.
  virtual bool first(std::size_t length, std::string_view& bytes, std::string& error) = 0;
  // The last `length` bytes, or all of them; false on a read error.
  virtual bool last(std::size_t length, std::string_view& bytes) = 0;
  virtual std::size_t size() const = 0;
  virtual std::int64_t mtime() const = 0;
};

class ChunkedFile : public FileSource {
 public:
  explicit ChunkedFile(FileReader& file) : file_(file) {}

  bool first(std::size_t length, std::string_view& bytes, std::string& error) override {
    const std::size_t have = head_.size();
    char* const data = buffer().reserve(length, have);
    std::size_t got = 0;
    if (!file_.readAt(have, length - have, data + have, got, error)) return false;
    head_ = std::string_view(data, have + got);
    bytes = head_;
    return true;
  }
  bool last(std::size_t length, std::string_view& bytes) override {
    const std::size_t from = file_.size() > length ? file_.size() - length : 0;
    tail_.resize(file_.size() - from);
    std::size_t got = 0;
    std::string ignored;
    if (!file_.readAt(from, tail_.size(), tail_.data(), got, ignored)) return false;
    tail_.resize(got);
    bytes = tail_;
    return true;
  }
  std::size_t size() const override { return file_.size(); }
  std::int64_t mtime() const override { return file_.mtime(); }

 private:
  static HeadBuffer& buffer() {
    thread_local HeadBuffer head;
    return head;
  }
  FileReader& file_;
  std::string_view head_;
  std::string tail_;
};

class WholeFile : public FileSource {
 public:
  WholeFile(std::string_view bytes, std::int64_t mtime) : bytes_(bytes), mtime_(mtime) {}

  bool first(std::size_t length, std::string_view& bytes, std::string&) override {
    bytes = bytes_.substr(0, length);
    return true;
  }
  bool last(std::size_t length, std::string_view& bytes) override {
    bytes = bytes_.substr(bytes_.size() > length ? bytes_.size() - length : 0);
    return true;
  }
  std::size_t size() const override { return bytes_.size(); }
  std::int64_t mtime() const override { return mtime_; }

 private:
  std::string_view bytes_;
  std::int64_t mtime_;
};

// Reads the whole regular file at `path` into `file`. On failure `error` says why.
bool readWholeFile(const std::string& path, FileBytes& file, std::string& error) {
  FileReader reader;
  if (!reader.open(path, error)) return false;
  char* const data = file.prepare(reader.size());
  // Bytes appended after the size was taken are left for the next run; a file that shrank
  // gives what it still holds.
  std::size_t got = 0;
  if (!reader.readAt(0, reader.size(), data, got, error)) return false;
  file.setRead(got, reader.mtime());
  return true;
}

// Reads the sender and the date of the message at `path` from `file`; false on a read error.
bool loadMessage(const std::string& path, FileSource& file, std::string& sender, UtcDateTime& date,
                 std::string& error) {
  // Take the first chunk, growing it until the header block's empty line is in it.
  const bool isEmlx = HasEmlxName(path);
  std::string_view bytes;
  std::size_t want = kFirstChunk;
  EmlxFrame frame;
  std::size_t headerEnd = std::string_view::npos;
  bool wholeFile = false;
  for (;;) {
    if (!file.first(want, bytes, error)) return false;
    frame = FrameEmlx(bytes, isEmlx);
    headerEnd = headerBlockEnd(bytes.substr(frame.messageBegin, frame.messageLength));
    wholeFile = bytes.size() < want || bytes.size() >= file.size();
    if (headerEnd != std::string_view::npos || wholeFile || want >= kHeaderLimit) break;
    want = std::min(want * 2, kHeaderLimit);
  }

  std::string_view block = bytes.substr(frame.messageBegin, frame.messageLength);
  if (headerEnd != std::string_view::npos) {
    block = block.substr(0, headerEnd);
  } else if (!wholeFile) {
    // Cut at the last whole line rather than read half a header.
    const std::size_t lastLf = block.rfind('\n');
    block = block.substr(0, lastLf == std::string_view::npos ? 0 : lastLf + 1);
  }

  initGMime();
  const HeaderFields fields = findHeaderFields(block);
  sender = senderOf(fields);

  std::optional<std::int64_t> seconds;
  if (fields.isMessage && fields.date) {
    seconds = parseCommonDate(*fields.date);
    if (!seconds) seconds = parseDateHeader(DecodedValue(*fields.date).text);
  }
  if (!seconds && isEmlx) {
    std::string_view plist;
    if (wholeFile) {
      plist = !frame.propertyList.empty()
                  ? frame.propertyList
                  : lastPropertyList(bytes.substr(frame.messageBegin + frame.messageLength));
      if (plist.empty() && !frame.framed) plist = lastPropertyList(bytes);
    } else if (std::string_view tail; file.last(kTailLimit, tail)) {
      // Only the end of the file is read: the list follows the message.
      plist = lastPropertyList(tail);
    }
    if (!plist.empty()) seconds = plistDate(plist);
  }
  if (!seconds && inRange(file.mtime())) seconds = file.mtime();
  date = fromEpochSeconds(seconds.value_or(0));
  return true;
}

}  // namespace

struct MailMessage::State {
  std::string loadError;
  std::string sender = "MAILER-DAEMON";
  UtcDateTime date;
};

MailMessage::MailMessage() : state_(std::make_unique<State>()) {}
MailMessage::~MailMessage() = default;

const std::string& MailMessage::loadError() const {
  return state_->loadError;
}
UtcDateTime MailMessage::MessageDate() const {
  return state_->date;
}
std::string MailMessage::SenderAddress() const {
  return state_->sender;
}

bool MailMessage::LoadFromFile(const std::string& path) {
  *state_ = State{};
  FileReader file;
  if (!file.open(path, state_->loadError)) return false;
  ChunkedFile source(file);
  return loadMessage(path, source, state_->sender, state_->date, state_->loadError);
}

bool MailMessage::LoadFromFile(const std::string& path, FileBytes& file) {
  *state_ = State{};
  if (!readWholeFile(path, file, state_->loadError)) return false;
  WholeFile source(file.bytes(), file.modified());
  return loadMessage(path, source, state_->sender, state_->date, state_->loadError);
}

}  // namespace drovanta

#include "emlx/emlx_framing.h"

#include <cstdint>
#include <limits>

#include "emlx/property_list.h"

namespace drovanta {

namespace {

constexpr std::string_view kPlistStart = "<?xml";
constexpr std::string_view kPlistEnd = "</plist>";
constexpr std::string_view kBinaryPlistStart = "bplist00";
// A binary list ends with a trailer of this size that says where its offset table lies.
constexpr std::size_t kBinaryTrailer = 32;
// A count line is a number padded with a few blanks; a file whose first line end comes later
// has none, and the rest of a large file is not read to find one.
constexpr std::size_t kCountLineLimit = 4096;
// Apple Mail's property lists are a few kilobytes; they are looked for only this near the end,
// so that a count far short of a huge file does not have the whole rest read.
constexpr std::size_t kPropertyListReach = 1024 * 1024;

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}
bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The count on an .emlx file's first line: digits with optional blanks around them. Counts too
// large for size_t saturate, which later reads as "all remaining bytes"; `digits` keeps them as
// written.
bool parseCountLine(std::string_view line, std::size_t& count, std::string_view& digits) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::size_t i = 0;
  while (i < line.size() && isBlank(line[i])) ++i;
  const std::size_t digitsBegin = i;
  std::size_t value = 0;
  bool saturated = false;
  for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
    const std::size_t digit = static_cast<std::size_t>(line[i] - '0');
    if (value > (std::numeric_limits<std::size_t>::max() - digit) / 10) saturated = true;
    if (!saturated) value = value * 10 + digit;
  }
  if (i == digitsBegin) return false;
  while (i < line.size() && isBlank(line[i])) ++i;
  if (i != line.size()) return false;
  count = saturated ? std::numeric_limits<std::size_t>::max() : value;
  digits = line.substr(digitsBegin);
  while (isBlank(digits.back())) digits.remove_suffix(1);
  return true;
}

// A first line that is a count gone wrong: a sign, then digits, blanks around them. It is no
// message's first line (no header field starts so), so it is left out as a count line is.
bool isBrokenCountLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  while (!line.empty() && isBlank(line.front())) line.remove_prefix(1);
  while (!line.empty() && isBlank(line.back())) line.remove_suffix(1);
  if (line.size() < 2 || (line[0] != '-' && line[0] != '+')) return false;
  return line.substr(1).find_first_not_of("0123456789") == std::string_view::npos;
}

std::uint64_t bigEndian(std::string_view bytes) {
  std::uint64_t value = 0;
  for (const char byte : bytes) value = value << 8 | static_cast<unsigned char>(byte);
  return value;
}

// A binary list that ends `text`, found from its trailer alone (the bytes before it are never
// searched): its offset table ends where the trailer begins, and its first bytes are
// "bplist00". A line end after it is allowed. Its bytes may be any, white space included, so
// its end is never found by trimming.
struct BinaryList {
  std::size_t begin = std::string_view::npos;
  std::size_t end = std::string_view::npos;
};
BinaryList binaryListAtEnd(std::string_view text) {
  std::size_t end = text.size();
  for (int lineEnd = 0; lineEnd < 3; ++lineEnd) {
    if (lineEnd == 1 && !text.ends_with('\n')) break;
    if (lineEnd == 2 && !text.ends_with("\r\n")) break;
    end = text.size() - static_cast<std::size_t>(lineEnd);
    if (end < kBinaryPlistStart.size() + kBinaryTrailer) break;
    const std::string_view trailer = text.substr(end - kBinaryTrailer, kBinaryTrailer);
    const std::uint64_t offsetSize = static_cast<unsigned char>(trailer[6]);
    const std::uint64_t objects = bigEndian(trailer.substr(8, 8));
    const std::uint64_t tableOffset = bigEndian(trailer.substr(24, 8));
    const std::uint64_t room = end - kBinaryTrailer;  // the most the table may end at
    if (offsetSize < 1 || offsetSize > 8 || objects > room / offsetSize ||
        tableOffset > room - objects * offsetSize) {
      continue;
    }
    const std::size_t begin =
        end - static_cast<std::size_t>(tableOffset + objects * offsetSize) - kBinaryTrailer;
    if (text.substr(begin).starts_with(kBinaryPlistStart)) return {begin, end};
  }
  return {};
}

// The property list at the very end of `text`, or npos when `text` does not end with one: a
// binary list, or a line starting "<?xml" through the last "</plist>", then only white space.
std::size_t trailingPlistStart(std::string_view text) {
  if (const BinaryList binary = binaryListAtEnd(text); binary.begin != std::string_view::npos)
    return binary.begin;
  std::size_t end = text.size();
  while (end > 0 && isSpace(text[end - 1])) --end;
  if (end < kPlistEnd.size() || text.substr(end - kPlistEnd.size(), kPlistEnd.size()) != kPlistEnd)
    return std::string_view::npos;
  // The last "<?xml" that opens a line before the closing tag.
  std::size_t searchFrom = end - kPlistEnd.size();
  for (;;) {
    const std::size_t pos = text.rfind(kPlistStart, searchFrom);
    if (pos == std::string_view::npos) return pos;
    if (pos == 0 || text[pos - 1] == '\n' || text[pos - 1] == '\r') return pos;
    searchFrom = pos - 1;
  }
}

std::string_view trimTrailingSpace(std::string_view text) {
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return text;
}

bool allSpace(std::string_view text) {
  return trimTrailingSpace(text).empty();
}

// The list that starts at `begin` and ends `text`: a binary one to its trailer, an XML one
// without the white space after it.
std::string_view listFrom(std::string_view text, std::size_t begin) {
  if (const BinaryList binary = binaryListAtEnd(text); binary.begin == begin) {
    return text.substr(begin, binary.end - begin);
  }
  return trimTrailingSpace(text.substr(begin));
}

// Whether an XML declaration follows the one `list` opens with: then the first opened a list
// in the message's text. Apple Mail's list escapes "<" in its values, and its only "?" are its
// declaration's, so the rare "?" is what is looked for.
bool holdsSecondDeclaration(std::string_view list) {
  for (std::size_t mark = list.find('?', 2); mark != std::string_view::npos;
       mark = list.find('?', mark + 1)) {
    if (list.substr(mark - 1).starts_with(kPlistStart)) return true;
  }
  return false;
}

bool isMessageList(std::string_view list) {
  return ParsePropertyList(list).hasMessageKey;
}

// The offset of the property list that ends `text` when it is Apple Mail's list for a message,
// else npos. A list that is not (say, one mailed as the message's own text) is the message's.
// Only the last kPropertyListReach bytes are looked at.
std::size_t messageListAtEnd(std::string_view text) {
  const std::size_t skipped =
      text.size() > kPropertyListReach ? text.size() - kPropertyListReach : 0;
  const std::string_view tail = text.substr(skipped);
  const std::size_t begin = trailingPlistStart(tail);
  if (begin == std::string_view::npos || !isMessageList(listFrom(tail, begin)))
    return std::string_view::npos;
  return skipped + begin;
}

// Bytes after a counted message that no message goes on with: the start of a property list cut
// short (a copy broken off), or a zero byte (the zeros a crash or a preallocated file leaves).
bool startsAsNoMessage(std::string_view text) {
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  return !text.empty() && (text.front() == '\0' || text.starts_with(kPlistStart) ||
                           text.starts_with(kBinaryPlistStart));
}

}  // namespace

std::string_view PropertyListAfterMessage(std::string_view afterMessage) {
  if (afterMessage.size() > kPropertyListReach) {
    afterMessage.remove_prefix(afterMessage.size() - kPropertyListReach);
  }
  const std::size_t begin = afterMessage.find(kPlistStart);
  // A binary list ends the file as an XML one does, unless an XML list comes first.
  if (const BinaryList binary = binaryListAtEnd(afterMessage); binary.begin < begin) {
    return afterMessage.substr(binary.begin, binary.end - binary.begin);
  }
  if (begin == std::string_view::npos) return {};
  const std::size_t end = afterMessage.rfind(kPlistEnd);
  if (end == std::string_view::npos || end < begin) return {};
  return afterMessage.substr(begin, end + kPlistEnd.size() - begin);
}

std::string_view TrailingPropertyList(std::string_view text) {
  const std::size_t start = trailingPlistStart(text);
  return start == std::string_view::npos ? std::string_view{} : listFrom(text, start);
}

EmlxFrame FrameEmlx(std::string_view fileBytes, bool isEmlxName) {
  EmlxFrame whole;
  whole.messageLength = fileBytes.size();
  if (!isEmlxName) return whole;

  // Without a count line, Apple Mail's list that ends the file is cut off as from an
  // overshooting count; the rest is the message.
  const auto uncounted = [&] {
    EmlxFrame frame = whole;
    const std::size_t plistStart = messageListAtEnd(fileBytes);
    if (plistStart != std::string_view::npos) {
      frame.propertyList = listFrom(fileBytes, plistStart);
      frame.messageLength = plistStart;
    }
    return frame;
  };
  const std::size_t lineEnd = fileBytes.substr(0, kCountLineLimit).find('\n');
  if (lineEnd == std::string_view::npos) return uncounted();
  std::size_t count = 0;
  std::string_view digits;
  if (isBrokenCountLine(fileBytes.substr(0, lineEnd))) {
    // The rest is taken as a file without a count line is.
    EmlxFrame frame = whole;
    std::string_view line = fileBytes.substr(0, lineEnd);
    if (line.ends_with('\r')) line.remove_suffix(1);
    frame.brokenCountLine = line.substr(line.find_first_not_of(" \t"));
    while (isBlank(frame.brokenCountLine.back())) frame.brokenCountLine.remove_suffix(1);
    frame.messageBegin = lineEnd + 1;
    const std::string_view following = fileBytes.substr(frame.messageBegin);
    frame.messageLength = following.size();
    if (const std::size_t plistStart = messageListAtEnd(following);
        plistStart != std::string_view::npos) {
      frame.propertyList = listFrom(following, plistStart);
      frame.messageLength = plistStart;
    }
    return frame;
  }
  if (!parseCountLine(fileBytes.substr(0, lineEnd), count, digits)) return uncounted();

  EmlxFrame frame;
  frame.framed = true;
  frame.statedCount = count;
  frame.statedDigits = digits;
  frame.messageBegin = lineEnd + 1;
  constexpr std::size_t kNoEnd = std::numeric_limits<std::size_t>::max();
  frame.countedEnd = count < kNoEnd - frame.messageBegin ? frame.messageBegin + count : kNoEnd;

  const std::string_view following = fileBytes.substr(frame.messageBegin);
  const std::size_t counted = count < following.size() ? count : following.size();
  const std::string_view afterCount = following.substr(counted);
  const std::string_view after = PropertyListAfterMessage(afterCount);
  const std::size_t afterBegin =
      after.empty() ? 0 : counted + static_cast<std::size_t>(after.data() - afterCount.data());
  // The count is right when the list follows the message, white space aside, and is one list
  // (not one in the message's text that a count too short ended just before, then Apple Mail's).
  if (!after.empty() && allSpace(following.substr(counted, afterBegin - counted)) &&
      !holdsSecondDeclaration(after)) {
    frame.messageLength = counted;
    frame.propertyList = after;
    frame.following = afterBegin;
    return frame;
  }

  // The count is wrong, or there is no list. Apple Mail's list that ends the file bounds the
  // message wherever it starts: inside the counted bytes (a count too long swallows the list or
  // its start) or after them (a count too short stops inside the message).
  std::size_t listBegin = messageListAtEnd(following);
  if (listBegin != std::string_view::npos) {
    frame.propertyList = listFrom(following, listBegin);
  } else if (!after.empty() && isMessageList(after)) {
    listBegin = afterBegin;
    frame.propertyList = after;
  }
  if (listBegin != std::string_view::npos) {
    frame.messageLength = listBegin;
    frame.following = listBegin;
    return frame;
  }

  // No list: the count frames the message, and what follows is its end that the count missed,
  // unless it is white space or no message's text at all.
  frame.messageLength = counted;
  frame.following = following.size();
  if (!allSpace(afterCount)) {
    if (startsAsNoMessage(afterCount)) {
      frame.leftOut = afterCount.size();
      frame.following = counted;
    } else {
      frame.messageLength = following.size();
    }
  }
  return frame;
}

std::string CountLineWarning(std::string_view fileBytes, const EmlxFrame& frame,
                             bool countMayExceed) {
  if (!frame.brokenCountLine.empty()) {
    return "count line \"" + std::string(frame.brokenCountLine) +
           "\" is no byte count: the line is left out";
  }
  if (!frame.framed) return {};
  if (frame.leftOut > 0) {
    const std::string_view left = fileBytes.substr(frame.messageBegin + frame.messageLength);
    const bool zeros = left[left.find_first_not_of(" \t\r\n")] == '\0';
    return std::to_string(frame.leftOut) + " bytes after the message are left out: " +
           (zeros ? "they start with a zero byte" : "a property list cut short");
  }
  const std::size_t count = frame.statedCount;
  const bool exceeds = count > frame.following && !countMayExceed;
  // A count short of the message: the message is taken to the list (or the end) all the same.
  const bool extended = count < frame.following && frame.messageLength == frame.following;
  if (!exceeds && !extended) return {};
  const std::string follow = std::to_string(frame.following);
  std::string text =
      "count line says " + std::string(frame.statedDigits) + " bytes, " + follow + " follow";
  if (extended) {
    text += "; all " + follow + " are converted";
    if (!frame.propertyList.empty()) text += ", up to the property list";
  }
  return text;
}

}  // namespace drovanta

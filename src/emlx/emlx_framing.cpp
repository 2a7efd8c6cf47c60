#include "emlx/emlx_framing.h"

#include <limits>

namespace drovanta {

namespace {

constexpr std::string_view kPlistStart = "<?xml";
constexpr std::string_view kPlistEnd = "</plist>";
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

// The property list at the very end of `text` (a line starting "<?xml" through the last
// "</plist>", then only white space), or npos when `text` does not end with one.
std::size_t trailingPlistStart(std::string_view text) {
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

}  // namespace

std::string_view PropertyListAfterMessage(std::string_view afterMessage) {
  if (afterMessage.size() > kPropertyListReach) {
    afterMessage.remove_prefix(afterMessage.size() - kPropertyListReach);
  }
  const std::size_t begin = afterMessage.find(kPlistStart);
  if (begin == std::string_view::npos) return {};
  const std::size_t end = afterMessage.rfind(kPlistEnd);
  if (end == std::string_view::npos || end < begin) return {};
  return afterMessage.substr(begin, end + kPlistEnd.size() - begin);
}

EmlxFrame FrameEmlx(std::string_view fileBytes, bool isEmlxName) {
  EmlxFrame whole;
  whole.messageLength = fileBytes.size();
  if (!isEmlxName) return whole;

  // Without a count line, a property list that ends the file is cut off as from an overshooting
  // count; the rest is the message.
  const auto uncounted = [&] {
    EmlxFrame frame = whole;
    const std::size_t plistStart = trailingPlistStart(fileBytes);
    if (plistStart != std::string_view::npos) {
      frame.propertyList = trimTrailingSpace(fileBytes.substr(plistStart));
      frame.messageLength = plistStart;
    }
    return frame;
  };
  const std::size_t lineEnd = fileBytes.substr(0, kCountLineLimit).find('\n');
  if (lineEnd == std::string_view::npos) return uncounted();
  std::size_t count = 0;
  std::string_view digits;
  if (!parseCountLine(fileBytes.substr(0, lineEnd), count, digits)) return uncounted();

  EmlxFrame frame;
  frame.framed = true;
  frame.statedCount = count;
  frame.statedDigits = digits;
  frame.messageBegin = lineEnd + 1;
  const std::size_t remaining = fileBytes.size() - frame.messageBegin;
  frame.messageLength = count < remaining ? count : remaining;
  constexpr std::size_t kNoEnd = std::numeric_limits<std::size_t>::max();
  frame.countedEnd = count < kNoEnd - frame.messageBegin ? frame.messageBegin + count : kNoEnd;

  std::string_view message = fileBytes.substr(frame.messageBegin, frame.messageLength);
  frame.propertyList =
      PropertyListAfterMessage(fileBytes.substr(frame.messageBegin + frame.messageLength));
  if (frame.propertyList.empty()) {
    // A count that overshoots swallows the property list; a message followed by its own list
    // is trusted as counted.
    const std::size_t plistStart = trailingPlistStart(message);
    if (plistStart != std::string_view::npos) {
      frame.propertyList = trimTrailingSpace(message.substr(plistStart));
      frame.messageLength = plistStart;
    }
  }
  frame.following = frame.propertyList.empty()
                        ? remaining
                        : static_cast<std::size_t>(frame.propertyList.data() - fileBytes.data()) -
                              frame.messageBegin;
  return frame;
}

std::string CountLineWarning(std::string_view fileBytes, const EmlxFrame& frame,
                             bool countMayExceed) {
  if (!frame.framed) return {};
  const std::size_t count = frame.statedCount;
  const bool exceeds = count > frame.following && !countMayExceed;
  bool leftOut = false;
  if (count < frame.following) {
    const std::string_view rest =
        fileBytes.substr(frame.messageBegin + count, frame.following - count);
    leftOut = !trimTrailingSpace(rest).empty();
  }
  if (!exceeds && !leftOut) return {};
  std::string text = "count line says " + std::string(frame.statedDigits) + " bytes, " +
                     std::to_string(frame.following) + " follow";
  if (count == 0) text += "; the file holds a message";
  return text;
}

}  // namespace drovanta

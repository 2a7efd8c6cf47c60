#include "emlx/mail_message.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string_view>

#include "emlx/emlx_framing.h"
#include "emlx/property_list.h"
#include "message/header_fields.h"
#include "message/rfc5322_date.h"
#include "message/sender_address.h"

namespace drovanta {

namespace {

// Most header blocks fit; a longer one doubles the read until its empty line is in.
constexpr std::size_t kFirstChunk = 4 * 1024;
// A header block larger than this is not a real one; what was read is parsed as it is.
constexpr std::size_t kHeaderLimit = 1024 * 1024;
// The property list is a few hundred bytes at the end of the file.
constexpr std::size_t kTailLimit = 64 * 1024;

// The last property list in the text: a line that starts "<?xml" through the last "</plist>",
// else a binary list that ends the text.
std::string_view lastPropertyList(std::string_view text) {
  const std::size_t end = text.rfind("</plist>");
  if (end == std::string_view::npos) return TrailingPropertyList(text);
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
    if (!value || *value <= 0 || *value > static_cast<double>(kLastUtcSecond)) continue;
    return static_cast<std::int64_t>(std::floor(*value));
  }
  return std::nullopt;
}

// The header block read for the sender and date, and what the rest of the reading needs.
struct HeadRead {
  std::string_view bytes;  // the start of the file that was read (all of it when wholeFile)
  EmlxFrame frame;         // the frame of those bytes
  std::size_t headerEnd = std::string_view::npos;
  bool wholeFile = false;
};

// Reads the sender and the date from the head read and, when needed, the end of the file.
void senderAndDateOf(const HeadRead& head, std::string_view fileBytes, std::int64_t modified,
                     bool isEmlx, std::string& sender, UtcDateTime& date) {
  const std::string_view bytes = head.bytes;
  const EmlxFrame& frame = head.frame;
  std::string_view block = bytes.substr(frame.messageBegin, frame.messageLength);
  if (head.headerEnd != std::string_view::npos) {
    block = block.substr(0, head.headerEnd);
  } else if (!head.wholeFile) {
    // Cut at the last whole line rather than read half a header.
    const std::size_t lastLineEnd = block.find_last_of("\r\n");
    block = block.substr(0, lastLineEnd == std::string_view::npos ? 0 : lastLineEnd + 1);
  }

  const HeaderFields fields = FindHeaderFields(block);
  sender = SenderAddressOf(fields);

  std::optional<std::int64_t> seconds;
  if (fields.isMessage && fields.date) seconds = ReadDateField(*fields.date);
  if (!seconds && isEmlx) {
    std::string_view plist;
    if (head.wholeFile) {
      plist = !frame.propertyList.empty()
                  ? frame.propertyList
                  : lastPropertyList(bytes.substr(frame.messageBegin + frame.messageLength));
      if (plist.empty() && !frame.framed) plist = lastPropertyList(bytes);
    } else {
      const std::size_t tailBegin = fileBytes.size() - std::min(fileBytes.size(), kTailLimit);
      const std::string_view tail = fileBytes.substr(tailBegin);
      // Only the end of the file is read. The list starts where the count says the message
      // ends, whether or not the message ends with a line end; else (no count, or one that
      // overshoots the list) it is the last list in the file.
      if (frame.framed && frame.countedEnd >= tailBegin &&
          frame.countedEnd - tailBegin < tail.size())
        plist = PropertyListAfterMessage(tail.substr(frame.countedEnd - tailBegin));
      if (plist.empty()) plist = lastPropertyList(tail);
    }
    if (!plist.empty()) seconds = plistDate(plist);
  }
  if (!seconds && InUtcRange(modified)) seconds = modified;
  date = UtcDateTimeFromSeconds(seconds.value_or(0));
}

}  // namespace

bool HeaderBlockTooLongToRead(std::string_view fileBytes, const EmlxFrame& frame) {
  const std::size_t reach =
      kHeaderLimit > frame.messageBegin ? kHeaderLimit - frame.messageBegin : 0;
  const std::string_view message = fileBytes.substr(frame.messageBegin, frame.messageLength);
  return message.size() > reach &&
         HeaderBlockEnd(message.substr(0, reach)) == std::string_view::npos;
}

SenderAndDate ReadSenderAndDate(std::string_view fileBytes, const EmlxFrame& frame, bool isEmlx,
                                std::int64_t modified) {
  // The header block is looked for as far as a reader of the file's start would read it, in
  // chunks that double up to kHeaderLimit; the frame of the whole file bounds the message.
  const std::string_view message = fileBytes.substr(frame.messageBegin, frame.messageLength);
  HeadRead head;
  head.frame = frame;
  std::size_t want = kFirstChunk;
  for (;;) {
    const std::size_t read = std::min(want, fileBytes.size());
    const std::size_t inMessage = read > frame.messageBegin ? read - frame.messageBegin : 0;
    head.headerEnd = HeaderBlockEnd(message.substr(0, inMessage));
    head.wholeFile = read >= fileBytes.size();
    if (head.headerEnd != std::string_view::npos || head.wholeFile || want >= kHeaderLimit) break;
    want = std::min(want * 2, kHeaderLimit);
  }
  head.bytes = head.wholeFile ? fileBytes : fileBytes.substr(0, std::min(want, fileBytes.size()));
  if (!head.wholeFile) {
    // The part read holds the message only as far as it reaches.
    head.frame.messageLength = std::min(
        frame.messageLength, head.bytes.size() - std::min(head.bytes.size(), frame.messageBegin));
  }
  SenderAndDate result;
  senderAndDateOf(head, fileBytes, modified, isEmlx, result.sender, result.date);
  return result;
}

}  // namespace drovanta

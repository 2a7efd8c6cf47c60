#include "emlx/mail_message.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string_view>

#include "emlx/emlx_framing.h"
#include "emlx/message_file_source.h"
#include "emlx/property_list.h"
#include "message/header_fields.h"
#include "message/rfc5322_date.h"
#include "message/sender_address.h"
#include "selection/emlx_name_filter.h"

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
    headerEnd = HeaderBlockEnd(bytes.substr(frame.messageBegin, frame.messageLength));
    wholeFile = bytes.size() < want || bytes.size() >= file.size();
    if (headerEnd != std::string_view::npos || wholeFile || want >= kHeaderLimit) break;
    want = std::min(want * 2, kHeaderLimit);
  }

  std::string_view block = bytes.substr(frame.messageBegin, frame.messageLength);
  if (headerEnd != std::string_view::npos) {
    block = block.substr(0, headerEnd);
  } else if (!wholeFile) {
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
    if (wholeFile) {
      plist = !frame.propertyList.empty()
                  ? frame.propertyList
                  : lastPropertyList(bytes.substr(frame.messageBegin + frame.messageLength));
      if (plist.empty() && !frame.framed) plist = lastPropertyList(bytes);
    } else if (std::string_view tail; file.last(kTailLimit, tail)) {
      // Only the end of the file is read. The list starts where the count says the message
      // ends, whether or not the message ends with a line end; else (no count, or one that
      // overshoots the list) it is the last list in the file.
      const std::size_t tailBegin = file.size() - std::min(file.size(), kTailLimit);
      if (frame.framed && frame.countedEnd >= tailBegin &&
          frame.countedEnd - tailBegin < tail.size())
        plist = PropertyListAfterMessage(tail.substr(frame.countedEnd - tailBegin));
      if (plist.empty()) plist = lastPropertyList(tail);
    }
    if (!plist.empty()) seconds = plistDate(plist);
  }
  if (!seconds && InUtcRange(file.mtime())) seconds = file.mtime();
  date = UtcDateTimeFromSeconds(seconds.value_or(0));
  return true;
}

}  // namespace

bool HeaderBlockTooLongToRead(std::string_view fileBytes, const EmlxFrame& frame) {
  const std::size_t reach =
      kHeaderLimit > frame.messageBegin ? kHeaderLimit - frame.messageBegin : 0;
  const std::string_view message = fileBytes.substr(frame.messageBegin, frame.messageLength);
  return message.size() > reach &&
         HeaderBlockEnd(message.substr(0, reach)) == std::string_view::npos;
}

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

void MailMessage::LoadFromBytes(const std::string& path, std::string_view bytes,
                                std::int64_t modified) {
  *state_ = State{};
  WholeFile source(bytes, modified);
  loadMessage(path, source, state_->sender, state_->date, state_->loadError);
}

}  // namespace drovanta

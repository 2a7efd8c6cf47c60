#include "emlx/source_reading.h"

#include <utility>

#include "emlx/apple_double.h"
#include "emlx/apple_flags.h"
#include "emlx/emlx_framing.h"
#include "emlx/mail_message.h"
#include "emlx/partial_message.h"
#include "emlx/property_list.h"
#include "message/header_fields.h"
#include "selection/emlx_name_filter.h"

namespace drovanta {

SourceMessage ReadSourceMessage(const std::string& path, const MessageFile& file, bool withState) {
  SourceMessage source;
  source.path = path;
  source.file = &file;
  const std::string_view bytes = file.bytes();
  if (StartsAsAppleDouble(bytes)) {
    source.kind = SourceKind::NotAMessage;
    source.notAMessageReason = kAppleDoubleReason;
    return source;
  }
  // Apple Mail leaves empty files after failed downloads. Written as an empty record, Thunderbird
  // would not count it and formail would join it to the record before.
  if (bytes.empty()) {
    source.kind = SourceKind::NotAMessage;
    source.notAMessageReason = "the file is empty";
    return source;
  }
  const bool isEmlx = HasEmlxName(path);
  const EmlxFrame frame = FrameEmlx(bytes, isEmlx);
  const std::string_view message = bytes.substr(frame.messageBegin, frame.messageLength);
  source.message = message;
  const bool partial = IsPartialMessageName(path);
  if (partial) source.kind = SourceKind::PartialMessage;

  std::string countWarning = CountLineWarning(bytes, frame, partial);
  const bool countWarned = !countWarning.empty();
  if (countWarned) source.warnings.push_back({path, std::move(countWarning)});
  // Converted all the same, but the user hears that it is no mail message, or that its
  // separator may lack the sender and date.
  if (message.empty()) {
    // The count line's warning says already what the file holds instead.
    if (!countWarned) source.warnings.push_back({path, "the message is empty"});
  } else if (!HasHeaderField(message)) {
    source.warnings.push_back({path, "the message has no header field"});
  } else if (HeaderBlockTooLongToRead(bytes, frame)) {
    source.warnings.push_back({path,
                               "the header block is too long to be read whole (over 1 MB): the "
                               "separator line's sender and date may be missing"});
  }
  // A partial message is written with its parts put back, each read and encoded as it is
  // written; its rebuilt length is its length.
  if (partial) {
    source.partial = PlanPartialMessage(path, message);
    source.warnings.insert(source.warnings.end(), source.partial->warnings.begin(),
                           source.partial->warnings.end());
  }
  if (file.statedSize() > bytes.size()) {
    // Shrunk while read, or a file system that states more than it holds.
    source.warnings.push_back({path, "file size says " + std::to_string(file.statedSize()) +
                                         " bytes, " + std::to_string(bytes.size()) +
                                         " could be read"});
  }

  SenderAndDate read = ReadSenderAndDate(bytes, frame, isEmlx, file.modified());
  source.sender = std::move(read.sender);
  source.date = read.date;
  if (withState && !frame.propertyList.empty()) {
    if (const auto flags = ParsePropertyList(frame.propertyList).flags) {
      source.state = DecodeAppleFlags(*flags);
    }
  }
  return source;
}

}  // namespace drovanta

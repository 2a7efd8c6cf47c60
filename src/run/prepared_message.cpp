#include "run/prepared_message.h"

#include <utility>

#include "emlx/source_reading.h"
#include "mbox/separator_line.h"

namespace drovanta {

std::unique_ptr<PreparedMessage> PrepareMessage(const std::string& path,
                                                const RecordOptions& options, MessageFile& file,
                                                bool withKey) {
  if (path.empty() || file.open(path) || file.mapped()) return nullptr;
  const SourceMessage source = ReadSourceMessage(path, file, options.writeFlags);
  if (source.kind == SourceKind::NotAMessage || source.length() > kPreparedMessageLimit) {
    return nullptr;
  }
  MessageTextWriter writer(source, options);

  auto message = std::make_unique<PreparedMessage>();
  message->path = path;
  message->separator = BuildSeparatorLine(source.sender, source.date);
  message->lineEnds = writer.lineEnds();
  message->fileLength = writer.fileLength();
  message->warnings = source.warnings;
  if (withKey) message->key = MessageKeyOfMessage(source.message);
  // Most texts are the message and a few bytes: one allocation.
  message->text.reserve(writer.fileLength() + writer.fileLength() / 16 + 256);
  StringOutput out(message->text);
  if (!writer.write(out, [&](std::uint64_t length) { message->lastLineRead = length; })) {
    return nullptr;
  }
  return message;
}

}  // namespace drovanta

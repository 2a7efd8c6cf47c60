#include "run/prepared_message.h"

#include <utility>

#include "mbox/separator_line.h"

namespace drovanta {

std::unique_ptr<PreparedMessage> PrepareMessage(const std::string& path,
                                                const RecordOptions& options, MessageFile& file,
                                                bool withKey) {
  if (path.empty() || file.open(path) || file.mapped()) return nullptr;
  MessageTextWriter writer(path, file, options);
  if (writer.notAMessage() || writer.fileLength() > kPreparedMessageLimit) return nullptr;

  auto message = std::make_unique<PreparedMessage>();
  message->path = path;
  message->separator = BuildSeparatorLine(path, file.bytes(), file.modified());
  message->lineEnds = writer.lineEnds();
  message->fileLength = writer.fileLength();
  message->warnings = MessageWarnings(path, file, writer);
  if (withKey) message->key = MessageKeyOfFile(path, file.bytes());
  // Most texts are the message and a few bytes: one allocation.
  message->text.reserve(writer.fileLength() + writer.fileLength() / 16 + 256);
  StringOutput out(message->text);
  if (!writer.write(out, [&](std::uint64_t length) { message->lastLineRead = length; })) {
    return nullptr;
  }
  return message;
}

std::vector<Notice> MessageWarnings(const std::string& path, const MessageFile& file,
                                    const MessageTextWriter& text) {
  std::vector<Notice> warnings = text.warnings();
  if (file.statedSize() > file.bytes().size()) {
    // Shrunk while read, or a file system that states more than it holds.
    warnings.push_back({path, "file size says " + std::to_string(file.statedSize()) + " bytes, " +
                                  std::to_string(file.bytes().size()) + " could be read"});
  }
  return warnings;
}

}  // namespace drovanta

// A message file read and its record text made as a run makes them, whole in memory: for tests
// of the text and of what the reading finds.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "emlx/source_reading.h"
#include "mbox/message_text.h"
#include "mbox/separator_line.h"
#include "message/message_file.h"
#include "shellutil/failure.h"

namespace drovanta {

// Progress of one read: opened once with the length of the message bytes, then lineRead at
// line ends of the text as it is written, with the length of the text so far.
struct ReadProgress {
  std::function<void(std::uint64_t fileLength)> opened;
  std::function<void(std::uint64_t textLength)> lineRead;
};

// One message's whole text, held in memory.
struct MessageText {
  std::string text;
  LineEnds lineEnds = LineEnds::CrLf;  // the message's, settled: CrLf or Lf
  std::uint64_t fileLength = 0;
  std::vector<Notice> warnings;
  bool notAMessage = false;
};

// Reads one message file and gives its text whole, as a run writes it.
inline Outcome<MessageText> ReadMessageText(const std::string& messagePath,
                                            const ReadProgress& progress,
                                            const RecordOptions& options = {}) {
  MessageFile file;
  if (MaybeFailure failure = file.open(messagePath)) return *failure;
  const SourceMessage source = ReadSourceMessage(messagePath, file, options.writeFlags);
  MessageText result;
  result.notAMessage = source.kind == SourceKind::NotAMessage;
  if (result.notAMessage) return result;
  MessageTextWriter writer(source, options);
  result.fileLength = writer.fileLength();
  result.lineEnds = writer.lineEnds();
  result.warnings = source.warnings;
  if (progress.opened) progress.opened(result.fileLength);
  StringOutput out(result.text);
  writer.write(out, progress.lineRead);
  return result;
}

// The separator line of the message file at `messagePath`, read as a run reads it.
inline Outcome<std::string> SeparatorLineOf(const std::string& messagePath) {
  MessageFile file;
  if (MaybeFailure failure = file.open(messagePath)) return *failure;
  const SourceMessage source = ReadSourceMessage(messagePath, file, false);
  return BuildSeparatorLine(source.sender, source.date);
}

}  // namespace drovanta

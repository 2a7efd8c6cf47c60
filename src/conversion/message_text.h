#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/record_options.h"
#include "shellutil/failure.h"

namespace drovanta {

// Progress of one read: opened once with the length of the message bytes, then lineRead after
// every line end of the text (and after each line end added at its end) with the length of the
// text built so far. A clean message's last report is its own length.
struct ReadProgress {
  std::function<void(std::uint64_t fileLength)> opened;
  std::function<void(std::uint64_t textLength)> lineRead;
};

struct MessageText {
  // The message in its record's form: line ends as the record's convention asks, "From " lines
  // quoted, a line end at the end, and an empty line after the header when the message has
  // none. When `borrowed` is not empty, the text is `borrowed` followed by `text`.
  std::string text;
  // A message that needs no change at all is not copied: read from bytes the caller keeps, the
  // text borrows them here and `text` holds only what is added at its end (if anything).
  std::string_view borrowed;
  // The record's line end, settled: CrLf or Lf, never Auto. The separator line and the record's
  // closing empty line use it.
  LineEnds lineEnds = LineEnds::CrLf;
  // Length of the message bytes the text was made from: without an .emlx file's count line and
  // property list; for a partial message, the rebuilt message's length.
  std::uint64_t fileLength = 0;
  std::vector<Notice> warnings;  // parts of a partial message that could not be put back
  bool notAMessage = false;      // an AppleDouble sidecar: nothing to convert

  std::uint64_t textLength() const { return borrowed.size() + text.size(); }
};

// Reads one message file whole: frames an .emlx file, puts back the parts of a partial message,
// normalises line ends, quotes "From " lines (mboxrd) and, when asked, writes the flag headers.
Outcome<MessageText> ReadMessageText(const std::string& messagePath, const ReadProgress& progress,
                                     const RecordOptions& options = {});
// The same for a message file already read whole (its bytes as read), so that it is read once.
// The result may borrow those bytes: keep them unchanged while the text is in use.
MessageText ReadMessageText(const std::string& messagePath, std::string_view fileBytes,
                            const ReadProgress& progress, const RecordOptions& options = {});

}  // namespace drovanta

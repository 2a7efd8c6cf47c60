#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mbox/record_options.h"
#include "mbox/record_output.h"
#include "mbox/text_stream.h"
#include "mbox/unquoted_byte_count.h"
#include "message/source_message.h"
#include "shellutil/failure.h"

namespace drovanta {

// One message read from its file (emlx/source_reading.h) made ready to be written as the text
// of its record: the record's form chosen and, when asked, the flag headers made. It keeps views
// into the message's file, which must stay open while the text is written.
class MessageTextWriter {
 public:
  MessageTextWriter(const SourceMessage& source, const RecordOptions& options);

  // The message's line ends, settled: CrLf or Lf. In the automatic mode, its own.
  LineEnds lineEnds() const { return form_.lineEnds; }
  // The line end of the separator line and of the empty line that closes the record.
  std::string_view recordLineEnd() const { return FramingLineEnd(options_.lineEnds); }
  // Length of the message bytes the text is made from: without an .emlx file's count line and
  // property list; for a partial message, the rebuilt message's length.
  std::uint64_t fileLength() const { return fileLength_; }

  // Writes the text to `out`: line ends as the record's form asks, "From " lines quoted, a line
  // end at the end and an empty line after a header without one. A message that needs no change
  // is moved from its file by the kernel; any other streams through the output in pieces.
  // False when the output failed.
  bool write(RecordOutput& out, const std::function<void(std::uint64_t)>& lineRead);
  // Length of the text written.
  std::uint64_t textLength() const { return textLength_; }
  // Why write() failed when it was not the output: a part file of a partial message that could
  // no longer be read, or a message file that changed while it was read.
  const MaybeFailure& readFailure() const { return readFailure_; }

 private:
  bool bodyInFile() const;
  std::string_view throughFirstLineEnd(std::string_view message) const;
  bool writeUnchanged(RecordOutput& out, const std::function<void(std::uint64_t)>& lineRead);
  bool writeStreamed(RecordOutput& out, const std::function<void(std::uint64_t)>& lineRead);

  std::string path_;
  const MessageFile& file_;
  RecordOptions options_;
  RecordForm form_;
  std::string prefix_;  // flag headers, in their final form
  std::string head_;    // the header lines without the old flag headers, when rewritten
  // The rest of the message (all of it unless the header was rewritten); for a partial message,
  // the message as read, whose pieces the plan says.
  std::string_view body_;
  std::optional<PartialMessagePlan> partial_;  // how to put back a partial message's parts
  MaybeFailure readFailure_;
  std::uint64_t fileLength_ = 0;
  std::uint64_t textLength_ = 0;
};

// Collects a record's bytes in a string; ranges of files are read into it.
class StringOutput : public RecordOutput {
 public:
  explicit StringOutput(std::string& text) : text_(text) {}
  bool write(std::string_view bytes) override {
    text_.append(bytes);
    return true;
  }
  bool copyFileRange(int fd, std::uint64_t offset, std::uint64_t length) override;

 private:
  std::string& text_;
};

// Counts the bytes of a record's text after its header block as UnquotedByteCount does, as the
// mailbox index counts those of a record in a mailbox: the same for every --eol and --flags,
// and smaller for a record cut short.
class BodyByteCounter {
 public:
  void feed(std::string_view bytes);
  std::uint64_t count() const { return body_.count(); }

 private:
  bool inHeader_ = true;
  std::size_t lineLength_ = 0;  // bytes of the line so far
  bool lineStartsWithCr_ = false;
  UnquotedByteCount body_;
};

// The body bytes of the record text `source` is written as, or nullopt when it cannot be made.
std::optional<std::uint64_t> BodyBytesOfMessage(const SourceMessage& source,
                                                const RecordOptions& options);

}  // namespace drovanta

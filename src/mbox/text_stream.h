#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "mbox/record_options.h"
#include "mbox/record_output.h"

namespace drovanta {

// How one record writes its message's lines.
struct RecordForm {
  LineEnds lineEnds = LineEnds::CrLf;  // settled: CrLf or Lf
  bool loneCrEndsLine = true;          // a lone CR is a line end, written as the record's one
  bool rewriteCrLf = false;            // CR LF is written as LF
  bool rewriteLoneLf = false;          // a lone LF is written as CR LF

  std::string_view lineEnd() const { return RecordLineEnd(lineEnds); }
};

// The form of a record in the given mode. In the automatic mode it follows the message's first
// line end, of which `messageStart` must hold the first (or all of the message).
RecordForm RecordFormFor(LineEnds mode, std::string_view messageStart);

// Turns a message, fed in pieces of any size, into its record text: line ends as the form asks,
// lines matching ^>*From  with one more ">" (mboxrd, judged on the final bytes), a line end at
// the end, and an empty line after a header that has none. Runs of bytes that stay as they are
// go to the output uncopied, straight from the pieces fed.
class TextStream {
 public:
  TextStream(const RecordForm& form, RecordOutput& out) : form_(form), out_(&out) {}

  // Text put before the message (already in its final form, ending with a line end).
  bool start(std::string_view prefix);
  // The next bytes of the message. False once the output has failed. `kept`: the bytes stay as
  // they are until the record is written, so the output may write them from where they lie.
  bool feed(std::string_view bytes, bool kept = true);
  // The message has ended: writes what it held back and what its end still needs.
  bool finish();

  // finish() in two steps, so that the end can go to another output than the message bytes:
  // flushHeld() settles the bytes held back at the end of the message, closeText() adds the
  // final line end and the empty line where needed.
  bool flushHeld();
  bool closeText();
  void setOutput(RecordOutput& out) { out_ = &out; }

  // Whether any byte written so far differs from the message's own (prefix and closing aside).
  bool changed() const { return changed_; }
  // Length of the text written so far, and at the last line end written.
  std::uint64_t length() const { return written_; }
  std::uint64_t lengthAtLastLineEnd() const { return lastLineEnd_; }

 private:
  bool emit(std::string_view bytes);
  bool emitRun(std::string_view bytes);
  bool emitChange(std::string_view bytes);
  bool flushRun(const char* data, std::size_t& run, std::size_t upTo);
  void lineEnded(std::size_t lineLength, bool onlyACr);
  bool feedLineStart(std::string_view bytes, std::size_t& at, std::size_t& run);
  std::size_t nextStop(std::string_view bytes, std::size_t from) const;

  RecordForm form_;
  RecordOutput* out_;
  bool failed_ = false;
  bool changed_ = false;
  bool inputKept_ = true;
  std::uint64_t written_ = 0;
  std::uint64_t lastLineEnd_ = 0;
  std::uint64_t fed_ = 0;        // message bytes fed before the current piece
  std::uint64_t lineBegin_ = 0;  // message offset where the current line began
  char lastByte_ = 0;            // the last message byte fed
  bool prefixed_ = false;        // start() wrote a prefix
  bool atLineStart_ = true;      // only ">" seen since the line began
  bool pendingCr_ = false;       // the last byte fed is a CR held back: CR LF or lone CR?
  std::size_t fromMatched_ = 0;  // bytes of "From " matched at the line start, held back
  char held_[4] = {};            // the part of the match fed in earlier pieces
  std::size_t heldSize_ = 0;
  bool emptyLineSeen_ = false;  // the header's closing empty line has gone by
};

}  // namespace drovanta

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace drovanta {

// Counts the bytes of a record's text (after its separator line) that every option set writes
// alike, so that a record in a mailbox holds its message whole exactly when its count is the
// message's: line ends (CR, LF) are left out, so are the state header lines of the header block
// with their continuations, and the '>' that start a line before "From " (quoting adds one
// there, judged on the record's own line ends). Every byte of a message counts otherwise, so a
// record cut short anywhere (in its header block or its body) counts fewer than its message.
// Fed in pieces of any size, from the start of the text.
class RecordByteCount {
 public:
  void feed(std::string_view bytes);
  // A line's start still being looked at counts as it stands.
  // A line not ended yet counts as it would if it ended here (a mailbox cut short).
  std::uint64_t count() const;

 private:
  void headerLineEnded();
  std::size_t feedLineStart(std::string_view bytes, std::size_t at);

  std::uint64_t count_ = 0;
  bool inHeader_ = true;
  // The header block is taken line by line (a line ends at CR LF, LF or a lone CR, as every
  // mode writes the same lines): the line so far, and whether the field it continues is a
  // state header.
  std::string headerLine_;
  bool crEnded_ = false;  // the last line ended at a CR: an LF right after it ends nothing
  bool inStateField_ = false;
  // The body is taken as it comes.
  bool atLineStart_ = true;
  std::uint64_t quotes_ = 0;  // '>' starting the line: left out if "From " follows
  std::size_t matched_ = 0;   // bytes of "From " after them
};

}  // namespace drovanta

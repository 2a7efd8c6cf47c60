#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace drovanta {

// Counts the bytes of a record's body as every option set writes it alike: line ends (CR, LF)
// are left out, and so are the '>' that start a line before "From ". Quoting adds one there,
// judged on the record's own line ends, so a "From " after a lone CR is quoted in a mode that
// makes the CR a line end and not in one that keeps it. Fed in pieces of any size, from the
// start of a line.
class UnquotedByteCount {
 public:
  void feed(std::string_view bytes);
  // A line's start still being looked at counts as it stands.
  std::uint64_t count() const { return count_ + quotes_ + matched_; }

 private:
  std::size_t feedLineStart(std::string_view bytes, std::size_t at);

  std::uint64_t count_ = 0;
  bool atLineStart_ = true;
  std::uint64_t quotes_ = 0;  // '>' starting the line: left out if "From " follows
  std::size_t matched_ = 0;   // bytes of "From " after them
};

}  // namespace drovanta
